// The whole program, as a user meets it: click the panel's microphone, speak,
// click again, and the words are in the application that had the focus.

#include "ProcessRig.h"
#include "support/PrivatePulseAudio.h"
#include "support/ScriptedNotificationService.h"
#include "support/TerminalTarget.h"

#include <QDir>
#include <QFileInfo>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

namespace
{

// The panel's controls, from its top-left corner.
constexpr QPoint microphone { 45, 45 }, flag { 98, 62 };

// Tellwind on the test's X display, onboarded, with a fresh settings folder and a session bus of its own.
class Session
{
public:
    QTemporaryDir dir;
    QProcessEnvironment environment = userEnvironment(dir.path());

    Session()
    {
        environment.insert("PULSE_COOKIE", qEnvironmentVariable("XDG_CONFIG_HOME") + "/pulse/cookie");
        // What the recognizer heard is logged only with the speech debug lines on.
        environment.insert("QT_LOGGING_RULES", "tellwind.speech.debug=true");
        m_bus->waitForLine("unix:");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress());
    }

    QString busAddress() { return m_bus->lines().value(0); }
    QString path(const QString &name) const { return dir.filePath(name); }
    std::unique_ptr<Child> start(const QStringList &arguments = {})
    {
        return Child::start(environment, tellwindProgram(), arguments);
    }
    // Tellwind, once its panel is on screen, and the panel's frame.
    std::unique_ptr<Child> startTellwind()
    {
        auto tellwind = start();
        panel = tellwind->waitForLine(tellwindReady) ? geometry() : QRect();
        return tellwind;
    }
    QRect panel;
    // A click on the microphone, and whether the recording answered it.
    bool record(Child &tellwind)
    {
        click(microphone);
        return tellwind.waitForLine("✅ Recording started with 💻 On-device", 20000);
    }
    QString focusedWindow() { return xdotool({ "getwindowfocus", "getwindowname" }); }

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
    void click(QPoint control) { mouse(panel.topLeft() + control); }

private:
    std::unique_ptr<Child> m_bus = Child::start(QProcessEnvironment::systemEnvironment(), "dbus-daemon",
        { "--session", "--nofork", "--nopidfile", "--print-address=1" });
};

// A start that hands over to a running one (or finds nothing to do) and ends, without a panel.
bool endsWithoutPanel(Session &session, const QStringList &arguments = {})
{
    auto child = session.start(arguments);
    return child->hasEnded(10000) && child->process().exitCode() == 0
        && !child->lines().contains(tellwindReady);
}
// A second start hands its sign-in URL to `first`.
void handOff(Session &session, Child &first)
{
    QVERIFY(endsWithoutPanel(session, { "tellwind://callback?token=x" }));
    QVERIFY(first.waitForLine("🔗 [App] Received URL: tellwind://callback?token=<redacted>"));
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Two recordings: one the user stops, one the sound server ends. (The server path is the upstream
    // test's.)
    void dictationAndThePanelOnTheDesktop()
    {
        const QString sentence = QStringLiteral("the quick brown fox jumps over the lazy dog");
        Session session;
        // As recognized, the way it was typed before there was formatting.
        for (const char *key : { "autoCapitalize", "spokenPunctuation" })
            QSettings(session.path("config/Tellwind/Tellwind.conf"), QSettings::IniFormat)
                .setValue(key, false);
        PrivatePulseAudio pulse;
        QVERIFY(pulse.start());
        session.environment.insert("PULSE_SERVER", pulse.server());
        ScriptedNotificationService notifications(session.busAddress());
        QVERIFY(notifications.isRegistered());
        TerminalTarget terminal(session.path("out.txt"));
        QVERIFY(terminal.isReady());
        const QString target = session.focusedWindow();
        auto tellwind = session.startTellwind();
        // Whole, and centred at the first launch (the harness's screen is 1280 × 800).
        QCOMPARE(session.panel, QRect(579, 355, 122, 90));
        // What the window manager is told: every desktop, above the others, never the focus.
        const QString properties
            = runCommand("xprop", { "-name", "Tellwind", "_NET_WM_DESKTOP", "_NET_WM_STATE", "WM_HINTS" });
        for (const char *wanted : { "_NET_WM_DESKTOP(CARDINAL) = 4294967295", "_NET_WM_STATE_STICKY",
                 "_NET_WM_STATE_ABOVE", "accepts input or input focus: False" })
            QVERIFY2(properties.contains(QLatin1String(wanted)), qPrintable(properties));

        const QString speech = session.path("speech.wav");
        runCommand("flite", { "-voice", "kal16", "-t", sentence, "-o", speech });
        QVERIFY(session.record(*tellwind));
        QVERIFY(pulse.play(speech)); // in real time
        QCOMPARE(session.focusedWindow(), target); // the click left the focus where it was
        QVERIFY2(tellwind->waitUntilHeard(sentence), qPrintable(tellwind->log()));
        session.click(microphone);
        QVERIFY(tellwind->waitForLine("✅ Recording stopped", 30000));
        tellwind->waitUntilQuiet();

        // The sound server goes: told at once, on the screen and by the desktop.
        QVERIFY(session.record(*tellwind));
        QVERIFY(pulse.play(speech));
        tellwind->waitUntilQuiet(); // the recognizer has caught up
        pulse.kill();
        const QString lost = QStringLiteral("❌ STT error: The connection to the sound server was lost");
        QVERIFY2(tellwind->waitForLine(lost, 1000), qPrintable(tellwind->log())); // within a second
        QTRY_COMPARE(notifications.calls.size(), 1);
        const ScriptedNotificationService::Call told = notifications.calls.first();
        QVERIFY(lost.endsWith(told.body.section(" (", 0, 0)));
        QCOMPARE(told.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("tellwind"));
        // The recording ends by itself; what was said before the loss is typed.
        QVERIFY(tellwind->waitForLine("⏹️ [STT] The microphone is gone, stopping", 5000));
        tellwind->waitUntilQuiet(2500);

        // The language search takes the focus while the picker is open...
        session.click(flag);
        QTRY_COMPARE(session.focusedWindow(), QStringLiteral("Tellwind Languages"));
        const int allRows = session.geometry("Tellwind Languages").height();
        xdotool({ "type", "--delay", "30", "germ" });
        // ...and gives it back when a choice closes it (the one row found).
        QRect found;
        QTRY_VERIFY((found = session.geometry("Tellwind Languages")).height() < allRows);
        session.mouse(found.topLeft() + QPoint(found.width() / 2, found.height() - 20));
        QVERIFY(tellwind->waitForLine("🌐 [STT] Language set to: German (de-DE)"));
        QTRY_COMPARE(session.focusedWindow(), target);
        // The background moves the panel, still without taking the focus.
        const QPoint grip = session.panel.topLeft() + QPoint(8, 8);
        session.mouse(grip, { "mousedown", "1" });
        for (int step = 1; step <= 5; ++step)
            session.mouse(grip + step * QPoint(20, 10), {});
        xdotool({ "mouseup", "1" });
        QTRY_COMPARE(session.geometry().topLeft(), session.panel.topLeft() + QPoint(100, 50));
        QCOMPARE(session.focusedWindow(), target);

        // The xterm got the sentence twice (and none of the search's keys), the log none of it.
        const QString typed = terminal.finish();
        const QStringList words = typed.split(' ');
        QVERIFY2(std::ranges::count_if(
                     sentence.split(' '), [&words](const QString &word) { return words.count(word) >= 2; })
                >= sentence.count(' ') - 1, // "the" is there twice anyway
            qPrintable("typed '" + typed + "', log:\n" + tellwind->log()));
        QVERIFY2(!typed.contains("germ"), qPrintable(typed));
        QVERIFY2(tellwind->linesOtherThanHeard().filter(sentence.section(' ', 1, 3)).isEmpty(),
            qPrintable(tellwind->log()));

        handOff(session, *tellwind);
        // SIGTERM ends it the way Quit does: the termination sequence, an orderly exit.
        ::kill(pid_t(tellwind->process().processId()), SIGTERM);
        QVERIFY(tellwind->hasEnded(10000) && tellwind->process().exitStatus() == QProcess::NormalExit
            && tellwind->process().exitCode() == 0);
        QVERIFY(tellwind->lines().contains("🎹 Global hotkey manager stopped"));
    }

    void withoutSessionBus()
    {
        // A socket in the user's runtime folder stands in for the bus.
        Session session;
        session.environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        session.environment.insert("XDG_RUNTIME_DIR", session.path("runtime"));
        QDir(session.path(".")).mkdir("runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(endsWithoutPanel(session, { "--stop" })); // with nothing running, it starts nothing
        // One left behind by a crash does not keep the next start out.
        auto crashed = session.start();
        QVERIFY(crashed->waitForLine(tellwindReady));
        crashed->process().kill();
        crashed->process().waitForFinished();
        QVERIFY(QFile::exists(session.path("runtime/tellwind/instance")));
        auto first = session.start();
        QVERIFY(first->waitForLine(tellwindReady));
        // However long the first has run, its lock is no one else's while it lives.
        QFile lock(session.path("runtime/tellwind/instance.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite)
            && lock.setFileTime(
                QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        lock.close();
        handOff(session, *first);
        QVERIFY(endsWithoutPanel(session)); // a plain start skips the hand-over and asks the lock itself
        QVERIFY(endsWithoutPanel(session, { "--stop" })); // an action goes over the socket as well
        QVERIFY(first->waitForLine("🎬 [App] Action: stop-recording"));
        // The socket's folder is the user's alone: no group or other bits.
        QCOMPARE(QFileInfo(session.path("runtime/tellwind")).permissions() & 0x77, QFile::Permissions());
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
