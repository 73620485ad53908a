#pragma once

// Typing targets on the test's X display, driven with xdotool.
#include <QFile>
#include <QProcess>
#include <QTest>

// Runs a short command to its end; its standard output, trimmed.
inline QString runCommand(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList &arguments)
{
    return runCommand(QStringLiteral("xdotool"), arguments);
}

// Focuses a client's window once it is on screen (keys sent before are lost).
inline QString focusWindow(const QStringList &search)
{
    const QString window
        = xdotool(QStringList { "search", "--sync", "--onlyvisible" } + search).section('\n', 0, 0);
    for (int attempt = 0; !window.isEmpty() && attempt < 100; ++attempt) {
        if (xdotool({ "windowfocus", "--sync", window, "getwindowfocus" }) == window)
            return window;
        QTest::qWait(20);
    }
    return {};
}

// A focused xterm whose `cat` writes what it is typed into a file.
class TerminalTarget
{
public:
    explicit TerminalTarget(const QString &path)
        : m_path(path)
    {
        QFile::remove(path);
        m_xterm.start("xterm", { "-geometry", "120x20+0+0", "-e", "sh", "-c", "exec cat > \"$0\"", path });
        m_ready = m_xterm.waitForStarted()
            && !focusWindow({ "--pid", QString::number(m_xterm.processId()) }).isEmpty()
            && QTest::qWaitFor([&path] { return QFile::exists(path); }, 5000);
    }
    bool isReady() const { return m_ready; }

    // Everything typed: one Ctrl+D hands over the unfinished line, one ends cat.
    QString finish()
    {
        xdotool({ "key", "ctrl+d", "ctrl+d" });
        m_xterm.waitForFinished(10000);
        QFile file(m_path);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

private:
    QString m_path;
    QProcess m_xterm;
    bool m_ready = false;
};
