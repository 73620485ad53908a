// The floating panel, the language picker and the recording badge as the
// program builds them, bound to a real AppState whose neighbours are fakes
// (the recognition manager is real, over fake speech backends).

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
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRasterWindow>
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
        // As in the program, the controller's language reaches the manager.
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

    // The panel shows a failure on the microphone, to the pointer and to a screen reader.
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
        auto tip
            = [button] { return button->findChild<QQuickWindow *>("hoverTip")->property("text").toString(); };
        QCOMPARE(tip(), refused);

        // The next result clears both: red again, and the tooltip says what a click does.
        rig->recognizer.publishTranscript(QStringLiteral("hello"));
        const QString stop = "Stop dictation (" + rig->desktop.hotkeyManager.hotkeyText() + ")";
        QTRY_COMPARE(tooltip(), stop);
        QCOMPARE(rim(), recording);
        QCOMPARE(tip(), stop);
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

    // Wherever the panel (hardly more than its buttons) is, each button's tooltip
    // is whole on the screen and leaves the buttons in sight.
    void tooltipsStayOnScreen()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const char *const buttons[] = { "voiceButton", "providerButton", "flagButton" };
        for (const QPoint corner : { QPoint(screen.left(), screen.center().y()),
                 QPoint(screen.right() - 121, screen.bottom() - 89), screen.topLeft() }) {
            window->setPosition(corner);
            QTRY_COMPARE(window->position(), corner);
            QRect all;
            for (const char *name : buttons)
                all |= QRect(item(name)->mapToScene(QPointF(0, 0)).toPoint(), item(name)->size().toSize());
            QVERIFY(all.width() >= window->width() - 24 && all.height() >= window->height() - 24);
            for (const char *name : buttons) {
                auto *tip = item(name)->findChild<QQuickWindow *>("hoverTip");
                QVERIFY(tip && !tip->property("text").toString().isEmpty());
                QVERIFY(QMetaObject::invokeMethod(tip, "reveal"));
                QVERIFY(QTest::qWaitForWindowExposed(tip));
                QCOMPARE(screen.intersected(tip->geometry()), tip->geometry());
                QVERIFY2(!tip->geometry().intersects(window->geometry()), name);
                QMetaObject::invokeMethod(tip, "dismiss");
                QTRY_VERIFY(!tip->isVisible());
            }
        }
    }

    void pickerMarksWhatCannotBeRecognised()
    {
        ScriptedHttpServer http;
        http.fallback
            = ScriptedHttpServer::Reply(200, R"({"languages":[{"code":"es-ES","engine":"upstream"}]})");
        Settings::setString(QStringLiteral("serverBaseURL"), http.baseUrl());
        QQuickItem *flag = item("flagButton");
        QVERIFY(clickItem(flag));
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
        QVERIFY(french && french->findChild<QQuickItem *>("unavailableMark")->isVisible());
        QCOMPARE(french->property("unavailableMark").toString(), QStringLiteral("Not available"));
        QVERIFY(french->property("tooltip").toString().contains(QStringLiteral("No speech model")));
        QQuickItem *spanish = firstRow(QStringLiteral("Spanish"));
        QVERIFY(spanish && spanish->property("unavailableMark").toString().isEmpty());
        QCOMPARE(spanish->property("tooltip").toString(), QString());
        // A marked language can still be chosen; the flag follows.
        QVERIFY(clickItem(firstRow(QStringLiteral("French"))));
        QTRY_VERIFY(!picker()->isVisible());
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        QTRY_COMPARE(
            flag->property("tooltip").toString(), QStringLiteral("Select language: French (France)"));
        Settings::remove(QStringLiteral("serverBaseURL"));
    }

    // The tray's "Choose Language…" opens the picker with its search focused; keys do the rest.
    void pickerByKeyboard()
    {
        const int down = Qt::Key_Down, up = Qt::Key_Up, enter = Qt::Key_Return, escape = Qt::Key_Escape;
        const struct {
            QString typed;
            QList<int> keys;
            QString chosen;
        } cases[] = { { "germ", { enter }, "de-DE" }, // the first match
            { "span", { down, down, down, down, enter }, "es-US" }, // Down stops at the last row
            { "span", { down, down, up, up, up, int(Qt::Key_Enter) }, "es-ES" }, // Up at the first
            { "span", { down, escape }, "" }, { "zzz", { enter, escape }, "" }, // nothing to choose
            { "deutsch", { enter }, "de-DE" }, { "pt-br", { enter }, "pt-BR" } };
        for (const auto &[typed, keys, chosen] : cases) {
            const qsizetype before = rig->recognizer.calls.size();
            rig->delegate.chooseLanguage();
            QTRY_VERIFY(picker() && picker()->isVisible());
            QTRY_VERIFY(pickerItem("searchField")->hasActiveFocus());
            for (const QChar character : typed)
                QTest::keyClick(picker(), character.toLatin1());
            QTRY_COMPARE(pickerItem("searchField")->property("text").toString(), typed);
            // An empty list says so.
            QTRY_COMPARE(pickerItem("noMatch")->isVisible(), LanguageCatalog::filtered(typed).isEmpty());
            for (int key : keys)
                QTest::keyClick(picker(), Qt::Key(key));
            QTRY_VERIFY(!picker()->isVisible());
            QCOMPARE(rig->recognizer.calls.mid(before),
                chosen.isEmpty() ? QStringList() : QStringList { "language:" + chosen });
        }
    }

    // A language is found by any name a user may know it by, or a code; the
    // picker goes beside the panel on the panel's own screen.
    void languagesByAnyNameAndPickerPlacement()
    {
        const QList<QPair<QString, QString>> searches { { "German", "de-DE" }, { "Deutsch", "de-DE" },
            { "ESPAÑOL", "es-ES" }, { "日本語", "ja-JP" }, { "русский", "ru-RU" }, { "nl", "nl-NL" },
            { "deu", "de-DE" }, { "jpn", "ja-JP" }, { "ger", "de-DE" }, { "fr-CA", "fr-CA" },
            { "  polski ", "pl-PL" }, { "qqq", "" } };
        for (const auto &[search, first] : searches) {
            const QList<SupportedLanguage> found = LanguageCatalog::filtered(search);
            QCOMPARE(found.isEmpty() ? QString() : found.first().rawValue(), first);
        }
        const QRect single(0, 0, 1280, 800), rightMonitor(1280, 0, 1280, 800);
        const struct {
            QRect panel, screen;
            QPoint expected;
        } placements[] = { { { 1000, 100, 190, 160 }, single, { 744, 30 } }, // no room on the right
            { { 1400, 300, 190, 160 }, rightMonitor, { 1596, 230 } },
            { { 2300, 300, 190, 160 }, rightMonitor, { 2044, 230 } }, // its right edge
            { { 100, 700, 190, 160 }, single, { 296, 500 } }, // kept above the bottom
            { { 100, 0, 190, 160 }, { 0, 30, 1280, 770 }, { 296, 30 } }, // kept below a top bar
            { { 100, 100, 190, 160 }, {}, { 296, 30 } } }; // screen unknown
        for (const auto &[panel, screen, expected] : placements)
            QCOMPARE(PopupFocus::besideAnchor(panel, QSize(250, 300), screen, 6), expected);

        // A name left out of the translatable list stays English on every other desktop.
        QStringList names;
        for (const SupportedLanguage &language : SupportedLanguage::allCases())
            names << language.displayName();
        QCOMPARE(names, translatableLanguageNames());
    }

    // The badge beside the real pointer (moved by the X server) follows it and lets clicks through.
    void cursorBadgeFollowsThePointer()
    {
        struct Target : QRasterWindow {
            int presses = 0;
            void mousePressEvent(QMouseEvent *) override { ++presses; }
        } target;
        target.setGeometry(500, 400, 200, 150);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "1270", "790" }), 0);
        CursorIndicatorService service(*rig->windowSystem);
        service.show();
        QWidget *badge = service.indicatorWindow();
        QVERIFY(QTest::qWaitForWindowExposed(badge));
        QCOMPARE(badge->geometry(), QRect(1218, 738, 32, 32));
        const Qt::WindowFlags wanted = Qt::WindowTransparentForInput | Qt::WindowStaysOnTopHint;
        QCOMPARE(badge->windowFlags() & wanted, wanted);
        QVERIFY(badge->property("isPulsing").toBool());
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 2290, 690 }, QRect(1280, 100, 1024, 600)),
            QPoint(2238, 638)); // a right-hand monitor's corner
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 400, 300 }, std::nullopt), QPoint(420, 310));

        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "540", "430" }), 0);
        QTRY_COMPARE(badge->pos(), QPoint(560, 440));
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "576", "456", "click", "1" }), 0);
        QTRY_COMPARE(target.presses, 1);
        // Hidden, nothing polls while idle.
        service.hide();
        QVERIFY(!badge->isVisible() && !service.isTracking());
    }
};

QTEST_MAIN(TestPanel)
#include "test_panel.moc"
