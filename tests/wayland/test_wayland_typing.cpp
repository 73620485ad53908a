// The real chain on a headless sway (sway-session.sh): the typing service with the program's backend, and
// the whole program from the command line, typing into foot, a native Wayland terminal.
#include "FootTarget.h"
#include "app/ProcessRig.h"
#include "support/ScriptedNotificationService.h"
#include "support/TypingChain.h"

#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

namespace
{

// The program, its output merged, started in the environment.
std::unique_ptr<Child> startProgram(const QProcessEnvironment &environment, const QStringList &arguments)
{
    auto child = std::make_unique<Child>(environment);
    child->process().setProcessChannelMode(QProcess::MergedChannels);
    child->start(tellwindProgram(), arguments);
    return child;
}

} // namespace

class TestWaylandTyping : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QSKIP("needs the sway session of tests/wayland/sway-session.sh");
    }

    void typesIntoFoot_data()
    {
        QTest::addColumn<QStringList>("transcripts"); // the last is what must arrive
        QTest::addRow("capitals digits symbols, two lines")
            << QStringList { "Hello World 42! (a+b)=c; 50% off @ #1 $20 ~x `y` <z> a/b\\c\nsecond Line" };
        QTest::addRow("accents euro and han") << QStringList { "Café crème €5 中文 Grüße" };
        // A revision's new ending holds characters the first keymap did not.
        QTest::addRow("revision") << QStringList { "Send the report by Friday",
            "Send the report by Montag é 中 €" };
        // One key per code point (sway takes no paste from a clipboard owner without the focus).
        QTest::addRow("emoji sequence and a mark")
            << QStringList { u"Family \U0001F468\u200D\U0001F469\u200D\U0001F467 q\u0301 done"_qs };
    }
    void typesIntoFoot()
    {
        QFETCH(QStringList, transcripts);
        TypingChain chain;
        QCOMPARE(chain.setup.choice.name(), "Wayland virtual keyboard");
        FootTarget target(folder.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
        QVERIFY(target.isReady());
        for (const QString &transcript : transcripts)
            QCoro::waitFor(chain.type(transcript));
        QCOMPARE(target.finish(), transcripts.last());
    }

    // `tellwind --toggle` starts dictation; speech played into the microphone arrives as text in foot.
    void dictationFromTheCommandLine()
    {
        const QString sentence = QStringLiteral("the quick brown fox jumps over the lazy dog");
        QTemporaryDir home;
        const QProcessEnvironment environment = userEnvironment(home.path());
        QProcess::execute("flite", { "-voice", "kal16", "-t", sentence, "-o", home.filePath("speech.wav") });
        FootTarget target(home.filePath("out.txt"));
        QVERIFY(target.isReady());
        // Its windows go through Xwayland; the recognizer's words in the log tell when it has heard them.
        QProcessEnvironment own = environment;
        own.remove("QT_QPA_PLATFORM");
        own.insert("QT_LOGGING_RULES", "tellwind.speech.debug=true");
        auto tellwind = startProgram(own, { "--toggle" });
        QVERIFY(tellwind->waitForLine(tellwindReady, 20000));
        QTRY_VERIFY_WITH_TIMEOUT(swaymsg({ "-t", "get_tree" }).contains("\"shell\": \"xwayland\""), 10000);
        QVERIFY(tellwind->lines().filter("Window position memory unavailable").isEmpty());
        QVERIFY2(tellwind->waitForLine("✅ Recording started with", 20000), qPrintable(tellwind->log()));
        QVERIFY(!tellwind->lines().filter("Typing backend: Wayland virtual keyboard").isEmpty());
        QVERIFY(QTest::qWaitFor(FootTarget::isFocused, 5000));

        QProcess::execute("paplay", { "-d", "spk", home.filePath("speech.wav") }); // in real time
        QVERIFY2(tellwind->waitUntilHeard(sentence), qPrintable(tellwind->log()));
        auto second = startProgram(environment, { "--toggle" });
        QVERIFY(second->hasEnded(10000));
        QCOMPARE(second->process().exitCode(), 0);
        QVERIFY(second->lines().filter(tellwindReady).isEmpty());
        QVERIFY(tellwind->waitForLine("🎬 [App] Action: toggle-recording"));
        QVERIFY(tellwind->waitForLine("✅ Recording stopped", 30000));
        tellwind->waitUntilQuiet();

        // All but a word the recognizer may mishear, written as text; none of it in the log.
        const QString typed = target.finish();
        QVERIFY2(
            heardAllButOne(sentence, typed), qPrintable("typed '" + typed + "', log:\n" + tellwind->log()));
        QVERIFY2(tellwind->linesOtherThanHeard().filter(sentence.section(' ', 1, 3)).isEmpty(),
            qPrintable(tellwind->log()));
    }

    // Without Xwayland the native panel gets the focus: a dictation then tells the user to click into the
    // target. With no compositor either, the program starts and says why it cannot type.
    void withoutXwayland()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = userEnvironment(home.path());
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        ScriptedNotificationService notices;
        QVERIFY(notices.isRegistered());
        FootTarget target(home.filePath("out.txt"));
        QVERIFY(target.isReady());
        auto tellwind = startProgram(environment, {});
        QVERIFY2(tellwind->waitForLine(tellwindReady, 20000), qPrintable(tellwind->log()));
        QTRY_COMPARE_WITH_TIMEOUT(FootTarget::focusedAppId(), QString("tellwind"), 10000);
        QVERIFY(startProgram(environment, { "--toggle" })->hasEnded(10000));
        QVERIFY2(tellwind->waitForLine("✅ Recording started", 20000), qPrintable(tellwind->log()));
        QTRY_VERIFY(!notices.calls.isEmpty());
        QCOMPARE(notices.calls.first().summary, QString("Click into your text first"));

        tellwind.reset();
        QTemporaryDir other;
        environment = userEnvironment(other.path());
        environment.remove("DISPLAY");
        environment.insert("WAYLAND_DISPLAY", "no-such-compositor");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        auto lost = startProgram(environment, {});
        QVERIFY2(lost->waitForLine(tellwindReady, 20000), qPrintable(lost->log()));
        QTRY_VERIFY_WITH_TIMEOUT(!lost->lines().filter("Typing backend: none").isEmpty(), 10000);
        QVERIFY(lost->lines().filter("Typing backend: none").first().contains("no X server"));
        QCOMPARE(lost->process().state(), QProcess::Running);
    }
};

QTEST_MAIN(TestWaylandTyping)
#include "test_wayland_typing.moc"
