// The floating panel and the language picker, driven through their windows.

#include "ViewsRig.h"
#include "fakes/LogCapture.h"

#include <QStandardPaths>
#include <QWindow>

class TestPanel : public QObject
{
    Q_OBJECT

    ViewsRig *rig = nullptr;

    QWindow *picker() const { return rig->window->findChild<QWindow *>("languagePicker"); }
    QQuickItem *pickerItem(const char *name) const
    {
        auto *window = qobject_cast<QQuickWindow *>(picker());
        return window ? window->findChild<QQuickItem *>(QLatin1String(name)) : nullptr;
    }
    QStringList listedNames() const
    {
        QStringList names;
        QQuickItem *list = pickerItem("languageList");
        const QVariantList model = list->property("model").toList();
        for (const QVariant &entry : model)
            names << entry.value<SupportedLanguage>().displayName();
        return names;
    }

    static void typeInto(QWindow *window, const char *text)
    {
        for (const char *c = text; *c; ++c)
            QTest::keyClick(window, *c);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        rig = new ViewsRig;
        QVERIFY(rig->load());
    }
    void cleanupTestCase() { delete rig; }

    void panelWindow()
    {
        QQuickWindow *window = rig->window;
        QCOMPARE(window->title(), QStringLiteral("Tellwind"));
        QCOMPARE(window->size(), QSize(190, 160));
        QVERIFY(window->flags() & Qt::WindowDoesNotAcceptFocus);
        QVERIFY(window->flags() & Qt::WindowStaysOnTopHint);
        QVERIFY(window->flags() & Qt::FramelessWindowHint);
        // Centred on the screen the first time.
        const QRect frame = window->screen()->availableGeometry();
        QCOMPARE(window->geometry().center(), frame.center());
        // The content is not cut and sits in the middle.
        QQuickItem *content = rig->item("contentView");
        QCOMPARE(content->size(), QSizeF(190, 160));
        QCOMPARE(content->mapToScene(QPointF(95, 80)), QPointF(95, 80));

        // A second report of the same window changes nothing.
        LogCapture log;
        rig->delegate.configureWindow(window);
        QVERIFY(log.lines().isEmpty());
    }

    void microphoneTaps()
    {
        LogCapture log;
        QQuickItem *button = rig->item("voiceButton");
        QVERIFY(button);
        ViewsRig::click(button);
        QTRY_VERIFY(rig->state.isRecording());
        QCOMPARE(log.lines().mid(0, 2),
                 (QStringList{"🎤 Button tapped - isRecording: false", "▶️ Starting recording..."}));
        QVERIFY(rig->recognizer.calls.contains("start"));
        // Listening: the dots replace the microphone.
        QTRY_VERIFY(!button->findChild<QQuickItem *>("microphoneSymbol")->isVisible());
        QVERIFY(button->findChild<QQuickItem *>("listeningDots")->property("item").value<QQuickItem *>());
        // The corner of the button's square is not the button.
        ViewsRig::click(button, QPointF(33, 33));
        QTest::qWait(50);
        QVERIFY(rig->state.isRecording());

        ViewsRig::click(button);
        QTRY_VERIFY(!rig->state.isRecording());
        QTRY_VERIFY(log.lines().contains("✅ Recording stopped"));
        const QStringList lines = log.lines();
        const qsizetype second = lines.indexOf("🎤 Button tapped - isRecording: true");
        QVERIFY(second > 0);
        QCOMPARE(lines.at(second + 1), QStringLiteral("⏹️ Stopping recording..."));
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("stop"));
        QTRY_VERIFY(button->findChild<QQuickItem *>("microphoneSymbol")->isVisible());

        // A session started elsewhere shows the same.
        rig->state.startRecording();
        QTRY_VERIFY(!button->findChild<QQuickItem *>("microphoneSymbol")->isVisible());
        rig->state.stopRecording();
        QTRY_VERIFY(button->findChild<QQuickItem *>("microphoneSymbol")->isVisible());
    }

    void providerSwitch()
    {
        QQuickItem *button = rig->item("providerButton");
        QCOMPARE(button->property("symbol").toString(), QStringLiteral("bolt.fill"));
        QCOMPARE(button->property("tooltip").toString(),
                 QStringLiteral("Using Apple (fast, offline) - tap for Google"));
        ViewsRig::click(button);
        QTRY_COMPARE(button->property("symbol").toString(), QStringLiteral("brain.head.profile"));
        QCOMPARE(button->property("tooltip").toString(),
                 QStringLiteral("Using Google (accurate, cloud) - tap for Apple"));
        QCOMPARE(rig->recognizer.preferredProvider(), STTProvider::google);
        ViewsRig::click(button);
        QTRY_COMPARE(button->property("symbol").toString(), QStringLiteral("bolt.fill"));
        QVERIFY(!rig->state.isRecording());
    }

    void languagePicker()
    {
        QQuickItem *flag = rig->item("flagButton");
        QCOMPARE(flag->property("tooltip").toString(), QStringLiteral("Select language: English (US)"));
        ViewsRig::click(flag);
        QTRY_VERIFY(picker() && picker()->isVisible());
        // It opens to the right of the panel.
        QVERIFY(picker()->x() >= rig->window->x() + rig->window->width());
        QTRY_VERIFY(picker()->isActive());

        QStringList names = listedNames();
        QCOMPARE(names.size(), 94);
        QCOMPARE(names.first(), QStringLiteral("English (US)"));
        QVERIFY(!pickerItem("clearButton")->isVisible());

        typeInto(picker(), "eng");
        QTRY_COMPARE(listedNames().size(), 6);
        names = listedNames();
        QCOMPARE(names.last(), QStringLiteral("Bengali"));
        for (const QString &name : names.first(5))
            QVERIFY2(name.startsWith(QLatin1String("English")), qPrintable(name));
        QVERIFY(pickerItem("clearButton")->isVisible());

        // Capitals find the same; nothing found leaves an empty list.
        pickerItem("searchField")->setProperty("text", QStringLiteral("ENG"));
        QCOMPARE(listedNames(), names);
        pickerItem("searchField")->setProperty("text", QStringLiteral("xyz"));
        QCOMPARE(listedNames().size(), 0);
        QVERIFY(pickerItem("searchField")->isVisible());

        ViewsRig::click(pickerItem("clearButton"));
        QTRY_COMPARE(listedNames().size(), 94);
        QVERIFY(!pickerItem("clearButton")->isVisible());

        // Rows of the languages only the cloud knows say so; the selected one is ticked.
        auto firstRowShows = [this](const char *name) {
            QQuickItem *item = ViewsRig::findItem(pickerItem("languageList"), QLatin1String(name));
            return item && item->isVisible();
        };
        pickerItem("searchField")->setProperty("text", QStringLiteral("Alban"));
        QTRY_COMPARE(listedNames(), QStringList{"Albanian"});
        QTRY_VERIFY(firstRowShows("cloudLabel"));
        QVERIFY(firstRowShows("cloudMark"));
        QVERIFY(!firstRowShows("tick"));
        pickerItem("searchField")->setProperty("text", QStringLiteral("Hebrew"));
        QTRY_COMPARE(listedNames(), QStringList{"Hebrew"});
        QTRY_VERIFY(!firstRowShows("cloudLabel"));
        QVERIFY(!firstRowShows("cloudMark"));
        pickerItem("searchField")->setProperty("text", QStringLiteral("English (US)"));
        QTRY_VERIFY(firstRowShows("tick"));
        pickerItem("searchField")->setProperty("text", QString());

        // Choosing a row sets the language and closes the picker.
        typeInto(picker(), "Germ");
        QTRY_COMPARE(listedNames(), QStringList{"German"});
        QQuickItem *list = pickerItem("languageList");
        QQuickItem *row = nullptr;
        QTRY_VERIFY((row = ViewsRig::findItem(list, QStringLiteral("languageName"))) != nullptr);
        ViewsRig::click(row);
        QTRY_VERIFY(!picker()->isVisible());
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("language:de-DE"));
        QTRY_COMPARE(flag->property("tooltip").toString(), QStringLiteral("Select language: German"));

        // The picker opens afresh, the choice ticked; the flag closes it again.
        ViewsRig::click(flag);
        QTRY_VERIFY(picker()->isVisible());
        QCOMPARE(pickerItem("searchField")->property("text").toString(), QString());
        ViewsRig::click(flag);
        QTRY_VERIFY(!picker()->isVisible());
    }
};

QTEST_MAIN(TestPanel)
#include "test_panel.moc"
