#pragma once

// A child process whose standard output is read line by line.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <memory>

class Child
{
public:
    explicit Child(const QProcessEnvironment &environment) { m_process.setProcessEnvironment(environment); }
    ~Child()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    void start(const QString &program, const QStringList &args = {}) { m_process.start(program, args); }
    QProcess &process() { return m_process; }

    QStringList lines()
    {
        m_buffer += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Waits until a line starts with `text`, or the process has ended.
    bool waitForLine(const QString &text, int timeoutMs = 10000)
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); m_process.waitForReadyRead(50)) {
            for (const QString &line : lines())
                if (line.startsWith(text))
                    return true;
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return false;
        }
        return false;
    }

private:
    QProcess m_process;
    QByteArray m_buffer;
};
