#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Catches what the program logs on standard output while it lives, and still
// passes it on to the real output when it ends.
class LogCapture
{
public:
    LogCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~LogCapture() { restore(); }

    QStringList lines()
    {
        std::fflush(stdout);
        QFile reader(m_file.fileName());
        reader.open(QIODevice::ReadOnly);
        return QString::fromUtf8(reader.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    bool contains(const QString &line) { return lines().contains(line); }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        const QStringList captured = lines();
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        m_saved = -1;
        for (const QString &line : captured)
            std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};
