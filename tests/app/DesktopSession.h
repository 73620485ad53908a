#pragma once

// The whole program on the test's X display: a fresh settings folder with
// onboarding done, a private session bus, an xterm to dictate into, and the
// harness's PulseAudio whose microphone hears what is played to "spk".

#include "ProcessRig.h"

#include <QDir>
#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class DesktopSession
{
public:
    // The panel's controls, from its top-left corner.
    static constexpr QPoint microphoneOffset{79, 80};
    static constexpr QPoint providerOffset{132, 63};
    static constexpr QPoint flagOffset{132, 97};

    DesktopSession()
    {
        const QString home = m_dir.path();
        for (const char *folder : {"config/Tellwind", "data", "cache", "home"})
            QDir().mkpath(home + QLatin1Char('/') + QLatin1String(folder));
        m_environment = QProcessEnvironment::systemEnvironment();
        // PulseAudio clients find the harness's daemon by its socket and cookie,
        // which live under the harness's own folders.
        const QString runtime = m_environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
        const QString config = m_environment.value(QStringLiteral("XDG_CONFIG_HOME"),
                                                   QDir::homePath() + QStringLiteral("/.config"));
        m_environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + runtime + QStringLiteral("/pulse/native"));
        m_environment.insert(QStringLiteral("PULSE_COOKIE"), config + QStringLiteral("/pulse/cookie"));
        m_environment.insert(QStringLiteral("HOME"), home + QStringLiteral("/home"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        m_environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        m_settings << QStringLiteral("hasCompletedOnboarding=true");
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    const QProcessEnvironment &environment() const { return m_environment; }
    static QString buildDir() { return qEnvironmentVariable("TELLWIND_BUILD_DIR"); }

    void addSetting(const QString &line) { m_settings << line; }

    // Runs a short command to its end; its standard output.
    QString run(const QString &program, const QStringList &arguments, int timeoutMs = 30000)
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.setWorkingDirectory(m_dir.path());
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs))
            process.kill();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList &arguments) { return run(QStringLiteral("xdotool"), arguments); }

    std::unique_ptr<Child> startTellwind(const QStringList &arguments = {})
    {
        QFile file(path(QStringLiteral("config/Tellwind/Tellwind.conf")));
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.write("[General]\n" + m_settings.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.close();
        auto child = std::make_unique<Child>(m_environment);
        child->process().setWorkingDirectory(m_dir.path());
        child->start(buildDir() + QStringLiteral("/tellwind"), arguments);
        return child;
    }

    // The xterm that receives the dictation; `cat` writes what it gets to out.txt.
    bool startTarget()
    {
        m_target = std::make_unique<Child>(m_environment);
        m_target->process().setWorkingDirectory(m_dir.path());
        m_target->start(QStringLiteral("xterm"),
                        {"-title", "dictation-target", "-geometry", "100x10+20+20", "-e", "sh",
                         "-c", "cat > out.txt"});
        m_targetWindow = xdotool({"search", "--sync", "--onlyvisible", "--name", "^dictation-target$"})
                             .section(QLatin1Char('\n'), 0, 0);
        if (m_targetWindow.isEmpty())
            return false;
        // A window only just mapped may not take the focus yet: try again.
        for (int attempt = 0; attempt < 50; ++attempt) {
            xdotool({"windowfocus", m_targetWindow});
            if (focusedWindowName() == QLatin1String("dictation-target"))
                return true;
            QTest::qWait(100);
        }
        return false;
    }
    QString focusedWindowName() { return xdotool({"getwindowfocus", "getwindowname"}); }

    // Two Ctrl+D: the first hands the typed line to `cat`, the second ends it.
    QString finishTarget()
    {
        xdotool({"key", "--clearmodifiers", "ctrl+d"});
        xdotool({"key", "--clearmodifiers", "ctrl+d"});
        m_target->process().waitForFinished(10000);
        QFile file(path(QStringLiteral("out.txt")));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    // The panel's frame on screen, found by its title.
    QRect panelGeometry() { return windowGeometry(QStringLiteral("^Tellwind$")); }
    // A visible window's frame, found by its title.
    QRect windowGeometry(const QString &title)
    {
        const QString window = xdotool({"search", "--sync", "--onlyvisible", "--name", title}).section(QLatin1Char('\n'), 0, 0);
        const QString shell = xdotool({"getwindowgeometry", "--shell", window});
        auto value = [&shell](const char *key) {
            const QRegularExpression pattern(QLatin1String(key) + QStringLiteral("=(\\d+)"));
            return pattern.match(shell).captured(1).toInt();
        };
        return {value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
    }
    // The server handles the motion before the click; waiting for the motion
    // (--sync) would hang when the pointer is already there.
    void click(QPoint point)
    {
        xdotool({"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
    }

    // Synthesizes a sentence ahead, so that saying it starts at once.
    void prepare(const QString &sentence)
    {
        run(QStringLiteral("flite"), {"-voice", "kal16", "-t", sentence, "-o", path(QStringLiteral("speech.wav"))});
    }
    // Plays the prepared sentence into the microphone, in real time.
    void say() { run(QStringLiteral("paplay"), {"-d", "spk", path(QStringLiteral("speech.wav"))}); }

private:
    QTemporaryDir m_dir;
    PrivateBus m_bus;
    QProcessEnvironment m_environment;
    QStringList m_settings;
    std::unique_ptr<Child> m_target;
    QString m_targetWindow;
};
