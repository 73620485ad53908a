#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects the program's log lines (standard output) while it lives, and
// passes them on to the real standard output when it ends, so a failing
// test still shows them.
class LogCapture
{
public:
    LogCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_savedStdout = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }

    ~LogCapture()
    {
        std::fflush(stdout);
        dup2(m_savedStdout, STDOUT_FILENO);
        close(m_savedStdout);
        const QByteArray text = readAll();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    }

    QStringList lines() const
    {
        std::fflush(stdout);
        return QString::fromUtf8(readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    int count(const QString &line) const { return int(lines().count(line)); }
    bool contains(const QString &line) const { return lines().contains(line); }
    bool anyStartsWith(const QString &prefix) const
    {
        for (const QString &line : lines()) {
            if (line.startsWith(prefix))
                return true;
        }
        return false;
    }

private:
    QByteArray readAll() const
    {
        QFile reader(m_file.fileName());
        reader.open(QIODevice::ReadOnly);
        return reader.readAll();
    }

    QTemporaryFile m_file;
    int m_savedStdout = -1;
};
