#include "common/Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

// Debug lines are off unless asked for: they are where dictated text goes.
Q_LOGGING_CATEGORY(lcApp, "tellwind.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpeech, "tellwind.speech", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOutput, "tellwind.output", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDesktop, "tellwind.desktop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAccount, "tellwind.account", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "tellwind.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcServer, "tellwind.server", QtInfoMsg)

namespace
{

void writeLine(const QString &line)
{
    // Capture and decoding threads log too; keep their lines whole.
    static QMutex mutex;
    const QByteArray bytes = line.toUtf8() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

void logLine(const QLoggingCategory &category, const QString &line)
{
    if (category.isInfoEnabled())
        writeLine(line);
}

void logLine(const QString &line)
{
    logLine(lcApp(), line);
}

void logDictated(const QLoggingCategory &category, const QString &line)
{
    if (category.isDebugEnabled())
        writeLine(line);
}
