#pragma once

#include "common/Log.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects what the program logs to standard output while it lives, and passes it on afterwards
// (test failures are reported there too).
class LogCapture
{
public:
    LogCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
        // The program's own lines, as it writes them: QtTest's handler would add its own tags.
        m_handler = qInstallMessageHandler(tellwindMessageHandler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_handler);
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        QFile reader(m_file.fileName());
        if (reader.open(QIODevice::ReadOnly)) {
            const QByteArray captured = reader.readAll();
            std::fwrite(captured.constData(), 1, size_t(captured.size()), stdout);
            std::fflush(stdout);
        }
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines()
    {
        std::fflush(stdout);
        QFile reader(m_file.fileName());
        reader.open(QIODevice::ReadOnly);
        return QString::fromUtf8(reader.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The lines that start with `prefix`, in order.
    QStringList linesStartingWith(const QString &prefix)
    {
        QStringList found = lines();
        found.removeIf([&prefix](const QString &line) { return !line.startsWith(prefix); });
        return found;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QtMessageHandler m_handler = nullptr;
};
