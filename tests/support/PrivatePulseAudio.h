#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// A PulseAudio daemon of the test's own, laid out as the harness's (a sink "spk" whose monitor is the
// default source "mic"), to kill and start again at will; clients reach it at `server()` (PULSE_SERVER).
class PrivatePulseAudio
{
public:
    // More modules, as "module-name arguments" (loaded at the start: later, a null sink's monitor is silent).
    explicit PrivatePulseAudio(QStringList modules = {})
        : m_modules(std::move(modules))
    {
    }
    ~PrivatePulseAudio() { kill(); }

    QString server() const { return "unix:" + m_dir.filePath("native"); }

    // Starts the daemon (again) and waits until it answers.
    bool start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_RUNTIME_PATH", m_dir.filePath("runtime"));
        environment.insert("PULSE_STATE_PATH", m_dir.filePath("state"));
        environment.remove("PULSE_SERVER");
        m_daemon.setProcessEnvironment(environment);
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments { "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--use-pid-file=no",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_dir.filePath("native"),
            "--load=module-null-sink sink_name=spk",
            "--load=module-remap-source master=spk.monitor source_name=mic" };
        for (const QString &module : m_modules)
            arguments << "--load=" + module;
        m_daemon.start("pulseaudio", arguments);
        for (QDeadlineTimer deadline(10000); m_daemon.waitForStarted(5000) && !deadline.hasExpired();
             QTest::qWait(20))
            if (pactl({ "set-default-source", "mic" }))
                return pactl({ "set-default-sink", "spk" });
        return false;
    }

    // As a crash would end it.
    void kill()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_daemon.processId()), SIGKILL);
            m_daemon.waitForFinished(5000);
        }
    }

    // Points this process's own clients at `server` until the guard goes.
    [[nodiscard]] static auto pointClientsAt(const QString &server)
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", server.toUtf8());
        return qScopeGuard(
            [saved] { saved.isNull() ? qunsetenv("PULSE_SERVER") : qputenv("PULSE_SERVER", saved); });
    }

    // Plays a file to "spk", in real time; returns when it has been played.
    bool play(const QString &file) const
    {
        return QProcess::execute("paplay", { "-s", server(), "-d", "spk", file }) == 0;
    }

private:
    bool pactl(const QStringList &arguments) const
    {
        return QProcess::execute("pactl", QStringList { "-s", server() } + arguments) == 0;
    }

    QStringList m_modules;
    QTemporaryDir m_dir;
    QProcess m_daemon;
};
