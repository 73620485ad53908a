// The floating panel and the language picker as the program builds them,
// bound to a real AppState whose neighbours are fakes, driven through their
// windows. The fake recognizer also stands in for the recognition manager.

#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/QmlTypes.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/LogCapture.h"
#include "platform/WindowSystem.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

// A click at the centre of `item`, through the window.
void click(QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, {}, centre.toPoint());
}

} // namespace

class TestPanel : public QObject
{
    Q_OBJECT

    struct Rig {
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state{&recognizer, &indicator, &typing};
        AppDelegate delegate{&state, &typing};
        QQmlApplicationEngine engine;
    };
    std::unique_ptr<Rig> rig;
    QQuickWindow *window = nullptr;

    QQuickItem *item(const char *name) const { return window->findChild<QQuickItem *>(name); }
    QQuickWindow *picker() const { return window->findChild<QQuickWindow *>("languagePicker"); }
    QQuickItem *pickerItem(const char *name) const { return picker()->findChild<QQuickItem *>(name); }
    QStringList listedNames() const
    {
        QStringList names;
        for (const QVariant &entry : pickerItem("languageList")->property("model").toList())
            names << entry.value<SupportedLanguage>().displayName();
        return names;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); // as the program does
        rig = std::make_unique<Rig>();
        registerQmlTypes(WindowSystem::shared());
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "AppState", &rig->state);
        qmlRegisterSingletonInstance("Tellwind.Core", 1, 0, "SpeechRecognitionManager",
                                     static_cast<QObject *>(&rig->recognizer));
        rig->engine.load(QUrl(QStringLiteral("qrc:/Tellwind/Views/MainWindow.qml")));
        window = qobject_cast<QQuickWindow *>(rig->engine.rootObjects().value(0));
        QVERIFY(window);
        rig->delegate.configureWindow(window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void microphoneTaps()
    {
        LogCapture log;
        QQuickItem *button = item("voiceButton");
        QQuickItem *microphone = button->findChild<QQuickItem *>("microphoneSymbol");
        click(button);
        QTRY_VERIFY(rig->state.isRecording());
        QTRY_VERIFY(!microphone->isVisible()); // the listening dots in its place
        click(button);
        QTRY_VERIFY(!rig->state.isRecording());
        QTRY_VERIFY(microphone->isVisible());
        QCOMPARE(log.lines().filter(QRegularExpression("^(🎤|▶️|⏹️ Stopping)")),
                 (QStringList{"🎤 Button tapped - isRecording: false", "▶️ Starting recording...",
                              "🎤 Button tapped - isRecording: true", "⏹️ Stopping recording..."}));
        QCOMPARE(rig->recognizer.calls, (QStringList{"clear", "start", "stop"}));
    }

    void providerSwitch()
    {
        QQuickItem *button = item("providerButton");
        auto shows = [button] {
            return QStringList{button->property("symbol").toString(), button->property("tooltip").toString()};
        };
        const QStringList apple{"bolt.fill", "Using on-device recognition (offline) - tap for server"};
        const QStringList google{"brain.head.profile", "Using server recognition (accurate, online) - tap for on-device"};
        QCOMPARE(shows(), apple);
        click(button);
        QTRY_COMPARE(shows(), google);
        QCOMPARE(rig->recognizer.preferred, STTProvider::google);
        click(button);
        QTRY_COMPARE(shows(), apple);
        QVERIFY(!rig->state.isRecording());
    }

    void languagePicker()
    {
        QQuickItem *flag = item("flagButton");
        QCOMPARE(flag->property("tooltip").toString(), QStringLiteral("Select language: English (US)"));
        click(flag);
        QTRY_VERIFY(picker() && picker()->isVisible());
        QVERIFY(picker()->x() >= window->x() + window->width()); // beside the panel
        QTRY_VERIFY(picker()->isActive());
        QCOMPARE(listedNames().size(), 94);

        for (char key : {'e', 'n', 'g'})
            QTest::keyClick(picker(), key);
        QTRY_COMPARE(listedNames(), (QStringList{"English (US)", "English (UK)", "English (Australia)",
                                                 "English (Canada)", "English (India)", "Bengali"}));
        click(pickerItem("clearButton"));
        QTRY_COMPARE(listedNames().size(), 94);

        // Choosing a row sets the language and closes the picker.
        pickerItem("searchField")->setProperty("text", QStringLiteral("germ"));
        QTRY_COMPARE(listedNames(), QStringList{"German"});
        QQuickItem *row = nullptr;
        QTRY_VERIFY(QMetaObject::invokeMethod(pickerItem("languageList"), "itemAtIndex",
                                              Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0)) && row);
        click(row);
        QTRY_VERIFY(!picker()->isVisible());
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("language:de-DE"));
        QTRY_COMPARE(flag->property("tooltip").toString(), QStringLiteral("Select language: German"));
    }
};

QTEST_MAIN(TestPanel)
#include "test_panel.moc"
