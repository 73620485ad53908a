// The whole program on a headless sway: `tellwind --toggle` starts dictation, speech played into the
// microphone is recognised, and the words arrive in foot, a native Wayland terminal, through the compositor's
// virtual keyboard.
#include "FootTarget.h"
#include "app/ProcessRig.h"
#include "support/ScriptedNotificationService.h"

#include <QDir>
#include <QTemporaryDir>

namespace
{

std::unique_ptr<Child> startProgram(const QProcessEnvironment &environment, const QStringList &arguments)
{
    auto child = std::make_unique<Child>(environment);
    child->process().setProcessChannelMode(QProcess::MergedChannels);
    child->start(tellwindProgram(), arguments);
    return child;
}

} // namespace

class TestWaylandToggle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QSKIP("needs the sway session of tests/wayland/sway-session.sh");
    }

    void dictationFromTheCommandLine()
    {
        const QString sentence = QStringLiteral("the quick brown fox jumps over the lazy dog");
        QTemporaryDir folder;
        const QProcessEnvironment environment = userEnvironment(folder.path());
        QProcess::execute(
            "flite", { "-voice", "kal16", "-t", sentence, "-o", folder.filePath("speech.wav") });

        FootTarget target(folder.filePath("out.txt"));
        QVERIFY(target.isReady());
        // The program itself sends its windows through Xwayland.
        QProcessEnvironment own = environment;
        own.remove("QT_QPA_PLATFORM");
        // The recognizer's words in the log, to stop once it has heard them.
        own.insert("QT_LOGGING_RULES", "tellwind.speech.debug=true");
        auto tellwind = startProgram(own, { "--toggle" });
        QVERIFY(tellwind->waitForLine(tellwindReady, 20000));
        QTRY_VERIFY_WITH_TIMEOUT(swaymsg({ "-t", "get_tree" }).contains("\"shell\": \"xwayland\""), 10000);
        QVERIFY(tellwind->lines().filter("Window position memory unavailable").isEmpty());
        QVERIFY2(tellwind->waitForLine("✅ Recording started with", 20000), qPrintable(tellwind->log()));
        QVERIFY(!tellwind->lines().filter("Typing backend: Wayland virtual keyboard").isEmpty());
        QVERIFY(QTest::qWaitFor([] { return FootTarget::isFocused(); }, 5000));

        QProcess::execute("paplay", { "-d", "spk", folder.filePath("speech.wav") }); // in real time
        QVERIFY2(tellwind->waitUntilHeard(sentence), qPrintable(tellwind->log()));
        auto second = startProgram(environment, { "--toggle" });
        QVERIFY(second->hasEnded(10000));
        QCOMPARE(second->process().exitCode(), 0);
        QVERIFY(second->lines().filter(tellwindReady).isEmpty());
        QVERIFY(tellwind->waitForLine("🎬 [App] Action: toggle-recording"));
        QVERIFY(tellwind->waitForLine("✅ Recording stopped", 30000));
        tellwind->waitUntilQuiet();

        // The sentence but for one word the recognizer may mishear, written as text (a capital at the start);
        // none of it in the log.
        const QString typed = target.finish();
        QVERIFY2(
            heardAllButOne(sentence, typed), qPrintable("typed '" + typed + "', log:\n" + tellwind->log()));
        QVERIFY2(tellwind->linesOtherThanHeard().filter(sentence.section(' ', 1, 3)).isEmpty(),
            qPrintable(tellwind->log()));
    }

    // Without Xwayland the panel is a native Wayland window, and sway gives it the focus when it appears,
    // whatever the window asks: a dictation started then tells the user to click into the target first.
    void panelWithTheFocusWarns()
    {
        QTemporaryDir folder;
        QProcessEnvironment environment = userEnvironment(folder.path());
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        ScriptedNotificationService notices;
        QVERIFY(notices.isRegistered());
        FootTarget target(folder.filePath("out.txt"));
        QVERIFY(target.isReady());
        auto tellwind = startProgram(environment, {});
        QVERIFY2(tellwind->waitForLine(tellwindReady, 20000), qPrintable(tellwind->log()));
        QTRY_COMPARE_WITH_TIMEOUT(FootTarget::focusedAppId(), QString("tellwind"), 10000);

        auto toggle = startProgram(environment, { "--toggle" });
        QVERIFY(toggle->hasEnded(10000));
        QVERIFY2(tellwind->waitForLine("✅ Recording started", 20000), qPrintable(tellwind->log()));
        QTRY_VERIFY(!notices.calls.isEmpty());
        QCOMPARE(notices.calls.first().summary, QString("Click into your text first"));
    }

    // No compositor that answers, no X server: the program still starts and says why it cannot type.
    void startsWithNoWayToType()
    {
        QTemporaryDir folder;
        QProcessEnvironment environment = userEnvironment(folder.path());
        environment.insert("WAYLAND_DISPLAY", "no-such-compositor");
        environment.remove("DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        auto tellwind = startProgram(environment, {});
        QVERIFY2(tellwind->waitForLine(tellwindReady, 20000), qPrintable(tellwind->log()));
        QTRY_VERIFY_WITH_TIMEOUT(!tellwind->lines().filter("Typing backend: none").isEmpty(), 10000);
        QVERIFY(tellwind->lines().filter("Typing backend: none").first().contains("no X server"));
        QCOMPARE(tellwind->process().state(), QProcess::Running);
    }
};

QTEST_MAIN(TestWaylandToggle)
#include "test_wayland_toggle.moc"
