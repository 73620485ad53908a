// The floating panel and the language picker as the program builds them,
// bound to a real AppState whose neighbours are fakes, driven through their
// windows. The recognition manager behind the provider button and the flag is
// a real one over fake speech backends.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/ErrorReporter.h"
#include "app/LanguageAvailability.h"
#include "app/LanguageCatalog.h"
#include "app/LanguageNames.h"
#include "app/PopupFocus.h"
#include "app/QmlTypes.h"
#include "common/Settings.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeNotifier.h"
#include "platform/SessionInfo.h"
#include "platform/WindowSystem.h"
#include "speech/SpeechRecognitionManager.h"
#include "support/DesktopServices.h"
#include "support/QuickItems.h"
#include "support/RecognitionRig.h"
#include "support/ScriptedHttpServer.h"

#include <QAccessible>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <memory>

class TestPanel : public QObject
{
    Q_OBJECT

    struct Rig {
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state { recognizer, indicator, typing };
        DesktopServices desktop;
        std::unique_ptr<WindowSystem> windowSystem = WindowSystem::create(SessionInfo::current());
        AppDelegate delegate { state, typing, *windowSystem, desktop.services() };
        FakeNotifier notifier;
        ErrorReporter reporter { notifier };
        LanguageAvailability availability { [](const QString &code) {
            return code == QLatin1String("en-US");
        } };
        RecognitionRig speech;
        SpeechRecognitionManager &manager = speech.make();
        QQmlApplicationEngine engine;
    };
    std::unique_ptr<Rig> rig;
    QQuickWindow *window = nullptr;

    QQuickItem *item(const char *name) const { return window->findChild<QQuickItem *>(name); }
    QQuickWindow *picker() const { return window->findChild<QQuickWindow *>("languagePicker"); }
    QQuickItem *pickerItem(const char *name) const { return picker()->findChild<QQuickItem *>(name); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); // as the program does
        rig = std::make_unique<Rig>();
        rig->reporter.follow(rig->state);
        // The language the controller sets reaches the manager, as in the program.
        connect(&rig->recognizer, &FakeDictationRecognizer::selectedLanguageChanged, &rig->manager,
            &SpeechRecognitionManager::setLanguage);
        provideQmlObjects(rig->engine,
            { .appState = &rig->state,
                .errorReporter = &rig->reporter,
                .languageAvailability = &rig->availability,
                .recognitionManager = &rig->manager,
                .hotkeyManager = &rig->desktop.hotkeyManager,
                .windowSystem = rig->windowSystem.get() });
        rig->engine.load(QUrl(QStringLiteral("qrc:/Tellwind/Views/MainWindow.qml")));
        window = qobject_cast<QQuickWindow *>(rig->engine.rootObjects().value(0));
        QVERIFY(window);
        rig->delegate.configureWindow(window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    // Notifying is the reporter's business; the panel shows the failure on
    // the microphone, to the pointer and to a screen reader.
    void failuresShowOnTheRim()
    {
        QQuickItem *button = item("voiceButton");
        auto rim = [button] { return button->property("rimColor").value<QColor>(); };
        auto tooltip = [button] { return button->property("tooltip").toString(); };
        const QString refused = QStringLiteral("Network error: Connection refused");

        clickItem(button);
        QTRY_VERIFY(rig->state.isRecording());
        const QColor recording = rim();
        rig->recognizer.publishError(refused);
        QTRY_COMPARE(rim(), QColor("#ffb020"));
        QTRY_COMPARE(tooltip(), refused);
        auto *tip = button->findChild<QQuickWindow *>("hoverTip");
        QVERIFY(tip);
        QCOMPARE(tip->property("text").toString(), refused);

        // The next result clears both; still recording, so red again, and
        // the tooltip says what a click does now.
        rig->recognizer.publishTranscript(QStringLiteral("hello"));
        const QString stop = "Stop dictation (" + rig->desktop.hotkeyManager.hotkeyText() + ")";
        QTRY_COMPARE(tooltip(), stop);
        QCOMPARE(rim(), recording);
        QCOMPARE(tip->property("text").toString(), stop);
        clickItem(button);
        QTRY_VERIFY(!rig->state.isRecording());

        // A start that fails says why; the next one that works clears it.
        rig->recognizer.startError = refused;
        clickItem(button);
        QTRY_COMPARE(tooltip(), refused);
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Description), refused);
        QVERIFY(!rig->state.isRecording());
        rig->recognizer.startError.clear();
        clickItem(button);
        QTRY_VERIFY(rig->state.isRecording());
        QTRY_COMPARE(tooltip(), stop);
        clickItem(button);
        QTRY_VERIFY(!rig->state.isRecording());
    }

    // Every button explains itself in a tooltip that is whole on the screen
    // and leaves the panel's buttons in sight, wherever the panel is; the
    // panel itself is hardly more than its buttons.
    void tooltipsStayOnScreen_data()
    {
        QTest::addColumn<QPoint>("corner");
        QTest::addColumn<QString>("button");
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QList<QPair<const char *, QPoint>> places {
            { "left edge", QPoint(screen.left(), screen.center().y()) },
            { "bottom right", QPoint(screen.right() - 121, screen.bottom() - 89) },
            { "top left", screen.topLeft() },
        };
        for (const auto &[place, corner] : places)
            for (const char *button : { "voiceButton", "providerButton", "flagButton" })
                QTest::addRow("%s, %s", place, button) << corner << QString(button);
    }
    void tooltipsStayOnScreen()
    {
        QFETCH(QPoint, corner);
        QFETCH(QString, button);
        window->setPosition(corner);
        QTRY_COMPARE(window->position(), corner);
        QRect buttons;
        for (const char *name : { "voiceButton", "providerButton", "flagButton" }) {
            QQuickItem *control = item(name);
            buttons |= QRect(control->mapToScene(QPointF(0, 0)).toPoint(), control->size().toSize());
        }
        QVERIFY(buttons.width() >= window->width() - 24 && buttons.height() >= window->height() - 24);

        QQuickItem *control = item(qPrintable(button));
        auto *tip = control->findChild<QQuickWindow *>("hoverTip");
        QVERIFY(tip);
        QVERIFY(!tip->property("text").toString().isEmpty());
        QVERIFY(QMetaObject::invokeMethod(tip, "reveal"));
        QVERIFY(QTest::qWaitForWindowExposed(tip));
        const QRect area = window->screen()->availableGeometry();
        QVERIFY2(area.contains(tip->geometry()),
            qPrintable(QString("tip at %1,%2 %3x%4")
                           .arg(tip->x())
                           .arg(tip->y())
                           .arg(tip->width())
                           .arg(tip->height())));
        QVERIFY(!tip->geometry().intersects(window->geometry()));
        QMetaObject::invokeMethod(tip, "dismiss");
        QTRY_VERIFY(!tip->isVisible());
    }

    void pickerMarksWhatCannotBeRecognised()
    {
        ScriptedHttpServer http;
        http.fallback
            = ScriptedHttpServer::Reply(200, R"({"languages":[{"code":"es-ES","engine":"upstream"}]})");
        Settings::setString(QStringLiteral("serverBaseURL"), http.baseUrl());
        QQuickItem *flag = item("flagButton");
        clickItem(flag);
        QTRY_VERIFY(picker() && picker()->isVisible());
        // Opening the picker asks the server again.
        QTRY_COMPARE(http.requests.size(), 1);
        QTRY_COMPARE(rig->availability.server(), LanguageAvailability::Server::reachable);

        auto firstRow = [this](const QString &search) -> QQuickItem * {
            pickerItem("searchField")->setProperty("text", search);
            QQuickItem *row = nullptr;
            const bool found = QTest::qWaitFor([&] {
                return QMetaObject::invokeMethod(pickerItem("languageList"), "itemAtIndex",
                           Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0))
                    && row
                    && row->property("language").value<SupportedLanguage>().displayName().startsWith(search);
            });
            return found ? row : nullptr;
        };
        QQuickItem *french = firstRow(QStringLiteral("French"));
        QVERIFY(french);
        QCOMPARE(french->property("unavailableMark").toString(), QStringLiteral("Not available"));
        QVERIFY(french->property("tooltip").toString().contains(QStringLiteral("No speech model")));
        QVERIFY(french->findChild<QQuickItem *>("unavailableMark")->isVisible());
        QQuickItem *spanish = firstRow(QStringLiteral("Spanish"));
        QVERIFY(spanish);
        QCOMPARE(spanish->property("unavailableMark").toString(), QString());
        QCOMPARE(spanish->property("tooltip").toString(), QString());
        // A marked language can still be chosen; the flag follows.
        QQuickItem *chosen = firstRow(QStringLiteral("French"));
        QVERIFY(chosen);
        clickItem(chosen);
        QTRY_VERIFY(!picker()->isVisible());
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        QTRY_COMPARE(
            flag->property("tooltip").toString(), QStringLiteral("Select language: French (France)"));
        Settings::remove(QStringLiteral("serverBaseURL"));
    }

    // The panel never takes the keyboard; the tray's "Choose Language…" opens
    // the picker with its search field focused, and the keys do the rest.
    void pickerByKeyboard_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("chosen");
        const int down = Qt::Key_Down, up = Qt::Key_Up, enter = Qt::Key_Return;
        QTest::addRow("Enter alone takes the first match") << "germ" << QList<int> { enter } << "de-DE";
        QTest::addRow("Down stops at the last row")
            << "span" << QList<int> { down, down, down, down, enter } << "es-US";
        QTest::addRow("Up goes back, stopping at the first row")
            << "span" << QList<int> { down, down, up, up, up, int(Qt::Key_Enter) } << "es-ES";
        QTest::addRow("Escape keeps the language")
            << "span" << QList<int> { down, int(Qt::Key_Escape) } << "";
        QTest::addRow("Enter without a match chooses nothing")
            << "zzz" << QList<int> { enter, int(Qt::Key_Escape) } << "";
        QTest::addRow("a language by its own name") << "deutsch" << QList<int> { enter } << "de-DE";
        QTest::addRow("a language by its code") << "pt-br" << QList<int> { enter } << "pt-BR";
    }
    void pickerByKeyboard()
    {
        QFETCH(QString, typed);
        QFETCH(QList<int>, keys);
        QFETCH(QString, chosen);
        const QStringList before = rig->recognizer.calls;
        rig->delegate.chooseLanguage();
        QTRY_VERIFY(picker() && picker()->isVisible());
        QTRY_VERIFY(pickerItem("searchField")->hasActiveFocus());
        for (const QChar character : typed)
            QTest::keyClick(picker(), character.toLatin1());
        QTRY_COMPARE(pickerItem("searchField")->property("text").toString(), typed);
        // An empty list says so.
        auto *noMatch = pickerItem("noMatch");
        QVERIFY(noMatch);
        QTRY_COMPARE(noMatch->isVisible(), LanguageCatalog::filtered(typed).isEmpty());
        for (int key : keys)
            QTest::keyClick(picker(), Qt::Key(key));
        QTRY_VERIFY(!picker()->isVisible());
        const QStringList after = rig->recognizer.calls.mid(before.size());
        QCOMPARE(after, chosen.isEmpty() ? QStringList() : QStringList { "language:" + chosen });
    }

    // A language is found by any name a user may know it by, in the user's
    // language, in English, in itself, or by a code.
    void searchFindsALanguageByAnyOfItsNames_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("first");
        QTest::addRow("English name") << "German"
                                      << "de-DE";
        QTest::addRow("its own name") << "Deutsch"
                                      << "de-DE";
        QTest::addRow("its own name, any case") << "ESPAÑOL"
                                                << "es-ES";
        QTest::addRow("its own script") << "日本語"
                                        << "ja-JP";
        QTest::addRow("its own name, Cyrillic") << "русский"
                                                << "ru-RU";
        QTest::addRow("two-letter code") << "nl"
                                         << "nl-NL";
        QTest::addRow("three-letter code") << "deu"
                                           << "de-DE";
        QTest::addRow("bibliographic code") << "ger"
                                            << "de-DE";
        QTest::addRow("full code") << "fr-CA"
                                   << "fr-CA";
        QTest::addRow("spaces around") << "  polski "
                                       << "pl-PL";
        QTest::addRow("nothing") << "qqq"
                                 << "";
    }
    void searchFindsALanguageByAnyOfItsNames()
    {
        QFETCH(QString, search);
        QFETCH(QString, first);
        const QList<SupportedLanguage> found = LanguageCatalog::filtered(search);
        QCOMPARE(found.isEmpty() ? QString() : found.first().rawValue(), first);
    }

    // Beside the panel on the panel's own screen, whichever it is.
    void pickerPlacement_data()
    {
        QTest::addColumn<QRect>("panel");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("expected");
        const QRect single(0, 0, 1280, 800), rightMonitor(1280, 0, 1280, 800);
        QTest::addRow("no room on the right") << QRect(1000, 100, 190, 160) << single << QPoint(744, 30);
        QTest::addRow("right-hand monitor")
            << QRect(1400, 300, 190, 160) << rightMonitor << QPoint(1596, 230);
        QTest::addRow("right edge of the right-hand monitor")
            << QRect(2300, 300, 190, 160) << rightMonitor << QPoint(2044, 230);
        QTest::addRow("kept above the bottom") << QRect(100, 700, 190, 160) << single << QPoint(296, 500);
        QTest::addRow("kept below a top bar")
            << QRect(100, 0, 190, 160) << QRect(0, 30, 1280, 770) << QPoint(296, 30);
        QTest::addRow("screen unknown") << QRect(100, 100, 190, 160) << QRect() << QPoint(296, 30);
    }
    void pickerPlacement()
    {
        QFETCH(QRect, panel);
        QFETCH(QRect, screen);
        QFETCH(QPoint, expected);
        QCOMPARE(PopupFocus::besideAnchor(panel, QSize(250, 300), screen, 6), expected);
    }

    // A language added to the catalogue without a translatable name would
    // stay English on every other desktop.
    void everyLanguageNameIsTranslatable()
    {
        QStringList names;
        for (const SupportedLanguage &language : SupportedLanguage::allCases())
            names << language.displayName();
        QCOMPARE(names, translatableLanguageNames());
    }
};

QTEST_MAIN(TestPanel)
#include "test_panel.moc"
