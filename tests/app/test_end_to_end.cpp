// The whole program, as a user meets it: click the panel's microphone, speak,
// click again, and the words are in the application that had the focus.

#include "ProcessRig.h"
#include "speech/TextFormatter.h"
#include "support/PrivatePulseAudio.h"
#include "support/ScriptedNotificationService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRect>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

namespace
{

const QString ready = QStringLiteral("✅ Window configured as floating borderless");
const QString program = qEnvironmentVariable("TELLWIND_BUILD_DIR") + "/tellwind";
const QString target = QStringLiteral("dictation-target");
// The panel's controls, from its top-left corner.
constexpr QPoint microphone { 79, 80 }, provider { 132, 63 }, flag { 132, 97 };

// Tellwind on the test's X display with a fresh settings folder (onboarding
// done) and a session bus of its own; the harness's PulseAudio, whose
// microphone hears what is played to "spk"; an xterm to dictate into.
class Session
{
public:
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    Session()
    {
        m_bus.start("dbus-daemon", { "--session", "--nofork", "--nopidfile", "--print-address=1" });
        m_bus.waitForLine("unix:");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.lines().value(0));
        environment.insert("PULSE_COOKIE", environment.value("XDG_CONFIG_HOME") + "/pulse/cookie");
        environment.insert("XDG_CONFIG_HOME", path("config"));
        set("hasCompletedOnboarding", true);
    }

    QString busAddress() { return m_bus.lines().value(0); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    void set(const QString &key, const QVariant &value)
    {
        QSettings(path("config/Tellwind/Tellwind.conf"), QSettings::IniFormat).setValue(key, value);
    }

    std::unique_ptr<Child> start(const QString &program, const QStringList &arguments = {})
    {
        auto child = std::make_unique<Child>(environment);
        child->process().setWorkingDirectory(m_dir.path());
        child->start(program, arguments);
        return child;
    }
    // Runs a short command to its end; its standard output.
    QString run(const QString &program, const QStringList &arguments)
    {
        auto child = start(program, arguments);
        child->process().waitForFinished(30000);
        return child->lines().join('\n');
    }
    QString xdotool(const QStringList &arguments) { return run("xdotool", arguments); }
    QString focusedWindow() { return xdotool({ "getwindowfocus", "getwindowname" }); }

    // The xterm that receives the dictation; `cat` writes what it gets to out.txt.
    bool startTarget()
    {
        m_target = start(
            "xterm", { "-title", target, "-geometry", "100x10+20+20", "-e", "sh", "-c", "cat > out.txt" });
        // A window only just mapped may not take the focus yet: try again.
        for (int attempt = 0; attempt < 50 && focusedWindow() != target; ++attempt, QTest::qWait(100))
            xdotool({ "search", "--sync", "--onlyvisible", "--name", '^' + target + '$', "windowfocus" });
        return focusedWindow() == target;
    }
    // Two Ctrl+D: the first hands the typed line to `cat`, the second ends it.
    QString finishTarget()
    {
        xdotool({ "key", "--clearmodifiers", "ctrl+d", "ctrl+d" });
        m_target->process().waitForFinished(10000);
        QFile file(path("out.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // A multi-line GTK text field to dictate into: unlike the terminal, where
    // a typed Return has already handed the line on, it lets the typing
    // correct a line break the recognizer later revises, as an editor does.
    bool startEditor()
    {
        m_target = start("zenity",
            { "--text-info", "--editable", "--title", target, "--width", "500", "--height", "300" });
        for (int attempt = 0; attempt < 50 && focusedWindow() != target; ++attempt, QTest::qWait(100))
            xdotool({ "search", "--sync", "--onlyvisible", "--name", '^' + target + '$', "windowfocus" });
        return focusedWindow() == target;
    }
    // Its OK button, in the bottom right corner, prints what the field holds.
    QString finishEditor()
    {
        const QRect frame = geometry(target);
        mouse(frame.bottomRight() - QPoint(30, 20));
        m_target->process().waitForFinished(10000);
        QProcess &editor = m_target->process();
        return editor.exitCode() == 0 ? QString::fromUtf8(editor.readAllStandardOutput())
                                      : QStringLiteral("<cancelled>");
    }

    // A visible window's frame, found by its title.
    QRect geometry(const QString &title = QStringLiteral("Tellwind"))
    {
        // WINDOW=…, X=…, Y=…, WIDTH=…, HEIGHT=…, one a line.
        const QStringList shell = xdotool({ "search", "--sync", "--onlyvisible", "--name", '^' + title + '$',
                                              "getwindowgeometry", "--shell" })
                                      .split('\n');
        auto value = [&shell](int line) { return shell.value(line).section('=', 1).toInt(); };
        return { value(1), value(2), value(3), value(4) };
    }
    // Moves the pointer, then does `then` (no --sync: it hangs if it is there already).
    void mouse(QPoint point, const QStringList &then = { "click", "1" })
    {
        xdotool(QStringList { "mousemove", QString::number(point.x()), QString::number(point.y()) } + then);
    }

private:
    QTemporaryDir m_dir;
    Child m_bus { QProcessEnvironment::systemEnvironment() };
    std::unique_ptr<Child> m_target;
};

// A second start hands its sign-in URL to `first` and ends, without a panel.
void handOff(Session &session, Child &first)
{
    auto second = session.start(program, { "tellwind://callback?token=x" });
    QVERIFY(second->process().waitForFinished(10000));
    QCOMPARE(second->process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->process().exitCode(), 0);
    QVERIFY(first.waitForLine("🔗 [App] Received URL: tellwind://callback?token=<redacted>"));
    QVERIFY(!second->lines().contains(ready));
}

// Says `sentence` into a fresh editor with Tellwind's default settings; what
// the editor holds afterwards. It must be the formatted last transcript.
QString dictateIntoEditor(const QString &sentence)
{
    Session session;
    if (!session.startEditor()) {
        QTest::qFail("the editor did not take the focus", __FILE__, __LINE__);
        return {};
    }
    // What the recognizer heard is logged only with the speech debug lines on.
    session.environment.insert("QT_LOGGING_RULES", "tellwind.speech.debug=true");
    auto tellwind = session.start(program);
    if (!tellwind->waitForLine(ready)) {
        QTest::qFail("Tellwind did not start", __FILE__, __LINE__);
        return {};
    }
    const QRect panel = session.geometry();
    session.run("flite", { "-voice", "kal16", "-t", sentence, "-o", session.path("speech.wav") });

    session.mouse(panel.topLeft() + microphone);
    if (!tellwind->waitForLine("✅ Recording started with 💻 On-device", 20000)) {
        QTest::qFail("the recording did not start", __FILE__, __LINE__);
        return {};
    }
    session.run("paplay", { "-d", "spk", session.path("speech.wav") });
    // The recognizer has caught up when it has logged nothing for 1.5 s;
    // stopping earlier, on a busy machine, would cut off the last words.
    for (qsizetype seen = -1; seen != tellwind->lines().size(); QTest::qWait(1500))
        seen = tellwind->lines().size();
    session.mouse(panel.topLeft() + microphone);
    if (!tellwind->waitForLine("✅ Recording stopped", 30000)) {
        QTest::qFail("the recording did not stop", __FILE__, __LINE__);
        return {};
    }
    for (qsizetype seen = -1; seen != tellwind->lines().size(); QTest::qWait(1500))
        seen = tellwind->lines().size();

    const QString typed = session.finishEditor();
    const QStringList results = tellwind->lines().filter("📝 [On-device STT] ");
    const QString heard = results.value(results.size() - 1).section(": ", 1);
    TextFormatter::Context context;
    context.language = QStringLiteral("en-US");
    const QString formatted = TextFormatter::format(heard, context);
    if (typed != formatted)
        QTest::qFail(
            qPrintable("typed '" + typed + "', heard '" + heard + "', log:\n" + tellwind->lines().join('\n')),
            __FILE__, __LINE__);
    return typed;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void dictation_data()
    {
        QTest::addColumn<bool>("cloud");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("on-device") << false << "the quick brown fox jumps over the lazy dog";
        // The server decodes each 3 s upload on its own, and a word cut at a
        // boundary comes back wrong: this sentence (2.2 s) is said just after
        // an upload, and fits before the next.
        QTest::newRow("cloud") << true << "please call me tomorrow morning";
    }
    void dictation()
    {
        QFETCH(bool, cloud);
        QFETCH(QString, sentence);
        Session session;
        // As recognized, the way it was typed before there was formatting.
        session.set("autoCapitalize", false);
        session.set("spokenPunctuation", false);
        auto server = session.start(
            program + "-server", { "--listen", "127.0.0.1:0", "--data-dir", session.path("server") });
        QVERIFY(server->waitForLine("tellwind-server listening on http://127.0.0.1:", 30000));
        session.set("serverBaseURL", server->lines().filter("listening on").value(0).section(' ', 3, 3));
        QVERIFY(session.startTarget());
        auto tellwind = session.start(program);
        QVERIFY(tellwind->waitForLine(ready));
        const QRect panel = session.geometry();
        if (cloud) {
            session.mouse(panel.topLeft() + provider);
            QVERIFY(tellwind->waitForLine("🔄 [STT] Preferred provider toggled to: Server"));
        }
        session.run("flite", { "-voice", "kal16", "-t", sentence, "-o", session.path("speech.wav") });

        session.mouse(panel.topLeft() + microphone);
        QVERIFY(tellwind->waitForLine(
            cloud ? "✅ Recording started with ☁️ Server" : "✅ Recording started with 💻 On-device",
            20000));
        if (cloud)
            QVERIFY(tellwind->waitForLine("🌐 [Speech] Sending "));
        session.run("paplay", { "-d", "spk", session.path("speech.wav") }); // in real time
        QCOMPARE(session.focusedWindow(), target); // the click left the focus where it was
        QTest::qWait(cloud ? 500 : 800);
        session.mouse(panel.topLeft() + microphone);
        QVERIFY(tellwind->waitForLine("✅ Recording stopped", 30000));
        // Typing has ended when the program has logged nothing for 1.5 s.
        for (qsizetype seen = -1; seen != tellwind->lines().size(); QTest::qWait(1500))
            seen = tellwind->lines().size();

        // The xterm got the sentence but for one word the recognizer may
        // mishear, and the log none of it.
        const QString typed = session.finishTarget();
        qsizetype heard = 0;
        for (const QString &word : sentence.split(' '))
            heard += typed.split(' ').contains(word);
        QVERIFY2(heard >= sentence.count(' '),
            qPrintable("typed '" + typed + "', log:\n" + tellwind->lines().join('\n')));
        QVERIFY2(tellwind->lines().filter(sentence.section(' ', 1, 3)).isEmpty(),
            qPrintable(tellwind->lines().join('\n')));
    }

    void soundServerGoneDuringRecording()
    {
        Session session;
        PrivatePulseAudio pulse;
        QVERIFY(pulse.start());
        session.environment.insert("PULSE_SERVER", pulse.server());
        ScriptedNotificationService notifications(session.busAddress());
        QVERIFY(notifications.isRegistered());
        QVERIFY(session.startTarget());
        auto tellwind = session.start(program);
        QVERIFY(tellwind->waitForLine(ready));
        const QRect panel = session.geometry();
        const QString sentence = QStringLiteral("the quick brown fox jumps over the lazy dog");
        session.run("flite", { "-voice", "kal16", "-t", sentence, "-o", session.path("speech.wav") });

        session.mouse(panel.topLeft() + microphone);
        QVERIFY(tellwind->waitForLine("✅ Recording started with 💻 On-device", 20000));
        QVERIFY(pulse.play(session.path("speech.wav")));
        QTest::qWait(500); // the last words reach the recognizer

        QElapsedTimer clock;
        clock.start();
        pulse.kill();
        const QString lost = QStringLiteral("❌ STT error: The connection to the sound server was lost");
        QVERIFY2(tellwind->waitForLine(lost, 3000), qPrintable(tellwind->lines().join('\n')));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(notifications.calls.size(), 1);
        QVERIFY(lost.endsWith(notifications.calls.first().body.section(" (", 0, 0)));

        // The recording ends by itself, and what was said before the loss is typed.
        QVERIFY(tellwind->waitForLine("⏹️ [STT] The microphone is gone, stopping", 5000));
        for (qsizetype seen = -1; seen != tellwind->lines().size(); QTest::qWait(2500))
            seen = tellwind->lines().size();
        const QString typed = session.finishTarget();
        qsizetype heard = 0;
        for (const QString &word : sentence.split(' '))
            heard += typed.split(' ').contains(word);
        QVERIFY2(heard >= sentence.count(' '),
            qPrintable("typed '" + typed + "', log:\n" + tellwind->lines().join('\n')));
        session.mouse(panel.topLeft() + microphone);
        QVERIFY(tellwind->waitForLine("🎤 Button tapped - isRecording: false"));
    }

    void formattedDictation()
    {
        // Formatting is on by default: bare recognized words arrive as written
        // text, the line break by the Return key. flite's pauses at the full
        // stops keep "new line" apart; with this voice the stock model hears
        // "comma" as "comet" and "full stop" as "post op" in every wording
        // tried, so those are left to the formatter's own tests. Capture
        // timing still makes the recognizer mishear now and then ("in the
        // lineup"): a dictation is tried up to three times, and every try must
        // type exactly the formatted form of what was heard.
        const QString expected = QStringLiteral("How are you doing?\nThank you");
        QString typed;
        for (int attempt = 0; attempt < 3 && typed != expected; ++attempt) {
            typed = dictateIntoEditor("how are you doing question mark. new line. thank you");
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(typed, expected);
    }

    void panelOnTheDesktop()
    {
        Session session;
        QVERIFY(session.startTarget());
        auto tellwind = session.start(program);
        QVERIFY(tellwind->waitForLine(ready));
        // Whole, and centred at the first launch (the harness's screen is 1280 × 800).
        const QRect panel = session.geometry();
        QCOMPARE(panel, QRect(545, 320, 190, 160));

        // What the window manager is told: every desktop, above the others,
        // never to be given the focus.
        const QString properties
            = session.run("xprop", { "-name", "Tellwind", "_NET_WM_DESKTOP", "_NET_WM_STATE", "WM_HINTS" });
        for (const char *wanted : { "_NET_WM_DESKTOP(CARDINAL) = 4294967295", "_NET_WM_STATE_STICKY",
                 "_NET_WM_STATE_ABOVE", "accepts input or input focus: False" })
            QVERIFY2(properties.contains(QLatin1String(wanted)), qPrintable(properties));

        // The language search takes the focus while the picker is open...
        session.mouse(panel.topLeft() + flag);
        QTRY_COMPARE(session.focusedWindow(), QStringLiteral("Tellwind Languages"));
        const int allRows = session.geometry("Tellwind Languages").height();
        session.xdotool({ "type", "--delay", "30", "germ" });
        // ...and gives it back when a choice closes it (the one row found).
        QRect found;
        QTRY_VERIFY((found = session.geometry("Tellwind Languages")).height() < allRows);
        session.mouse(found.topLeft() + QPoint(found.width() / 2, found.height() - 20));
        QVERIFY(tellwind->waitForLine("🌐 [STT] Language set to: German (de-DE)"));
        QTRY_COMPARE(session.focusedWindow(), target);

        // The background moves the panel, still without taking the focus.
        const QPoint grip = panel.topLeft() + QPoint(8, 8);
        session.mouse(grip, { "mousedown", "1" });
        for (int step = 1; step <= 5; ++step)
            session.mouse(grip + step * QPoint(20, 10), {});
        session.xdotool({ "mouseup", "1" });
        QTRY_COMPARE(session.geometry().topLeft(), panel.topLeft() + QPoint(100, 50));
        QCOMPARE(session.focusedWindow(), target);

        handOff(session, *tellwind);
        // SIGTERM ends it the way Quit does: the termination sequence, an orderly exit.
        ::kill(pid_t(tellwind->process().processId()), SIGTERM);
        QVERIFY(tellwind->process().waitForFinished(10000));
        QCOMPARE(tellwind->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(tellwind->process().exitCode(), 0);
        QVERIFY(tellwind->lines().contains("🎹 Global hotkey manager stopped"));
    }

    void withoutSessionBus()
    {
        // A socket in the user's runtime folder stands in for the bus.
        Session session;
        session.environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        session.environment.insert("XDG_RUNTIME_DIR", session.path("runtime"));
        QDir(session.path(".")).mkdir("runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // One left behind by a crash does not keep the next start out.
        auto crashed = session.start(program);
        QVERIFY(crashed->waitForLine(ready));
        crashed->process().kill();
        crashed->process().waitForFinished();
        QVERIFY(QFile::exists(session.path("runtime/tellwind/instance")));
        auto first = session.start(program);
        QVERIFY(first->waitForLine(ready));
        handOff(session, *first);
        // The socket's folder is the user's alone: no group or other bits.
        QCOMPARE(QFileInfo(session.path("runtime/tellwind")).permissions() & 0x77, QFile::Permissions());
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
