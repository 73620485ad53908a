#pragma once

#include "common/Log.h"

#include <QMutex>
#include <QStringList>

// Collects the program's log lines while it lives, as the program writes them (QtTest's handler, which
// still gets every message, would add its own tags). One at a time.
class LogCapture
{
public:
    LogCapture()
    {
        s_current = this;
        m_handler = qInstallMessageHandler(collect);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_handler);
        s_current = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines()
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    // The lines that start with `prefix`, in order.
    QStringList linesStartingWith(const QString &prefix)
    {
        QStringList found = lines();
        found.removeIf([&prefix](const QString &line) { return !line.startsWith(prefix); });
        return found;
    }

private:
    // Capture and decoding threads log too.
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        {
            QMutexLocker lock(&s_current->m_mutex);
            s_current->m_lines << QString::fromUtf8(formatLogLine(type, message, false)).chopped(1);
        }
        s_current->m_handler(type, context, message);
    }

    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_handler = nullptr;
    QMutex m_mutex;
    QStringList m_lines;
};
