#pragma once

// Helpers for tests that run whole processes: a private session bus, and
// reading a child's log lines as they come.

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

#include <memory>

// A session bus of the test's own, so that the instances it starts meet
// nobody else's.
class PrivateBus
{
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {"--session", "--nofork", "--print-address=1", "--nopidfile"});
        if (m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
    }
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

// A child process whose standard output is read line by line.
class Child
{
public:
    explicit Child(const QProcessEnvironment &environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    void start(const QString &program, const QStringList &arguments = {})
    {
        m_process.start(program, arguments);
    }
    QProcess &process() { return m_process; }

    QStringList lines()
    {
        m_buffer += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Waits (spinning the test's event loop) until a line equals or starts with `text`.
    bool waitForLine(const QString &text, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QString &line : lines())
                if (line.startsWith(text))
                    return true;
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return false;
            m_process.waitForReadyRead(50);
        }
        return false;
    }

private:
    QProcess m_process;
    QByteArray m_buffer;
};
