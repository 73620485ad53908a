#include "common/Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

void logLine(const QString &line)
{
    // Capture and decoding threads log too; keep their lines whole.
    static QMutex mutex;
    const QByteArray bytes = line.toUtf8() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
