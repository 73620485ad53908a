#include "common/Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <cstdlib>

// Debug lines are off unless asked for: they are where dictated text goes.
Q_LOGGING_CATEGORY(lcApp, "tellwind.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpeech, "tellwind.speech", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOutput, "tellwind.output", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDesktop, "tellwind.desktop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAccount, "tellwind.account", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "tellwind.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcServer, "tellwind.server", QtInfoMsg)

QByteArray formatLogLine(QtMsgType type, const QString &message, bool forJournal)
{
    QByteArray line;
    if (forJournal) {
        // sd-daemon(3) priorities, which journald reads off the line's start.
        int priority = 6;
        switch (type) {
        case QtDebugMsg:
            priority = 7;
            break;
        case QtInfoMsg:
            priority = 6;
            break;
        case QtWarningMsg:
            priority = 4;
            break;
        case QtCriticalMsg:
            priority = 3;
            break;
        case QtFatalMsg:
            priority = 2;
            break;
        }
        line = '<' + QByteArray::number(priority) + '>';
    }
    // One event, one line: a line break inside a message would forge another.
    QString flat = message;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line + flat.toUtf8() + '\n';
}

void tellwindMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // systemd sets JOURNAL_STREAM when standard output is connected to the
    // journal, as for a program started at login under a systemd session.
    static const bool journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    // Capture and decoding threads log too; keep their lines whole.
    static QMutex mutex;
    const QByteArray bytes = formatLogLine(type, message, journal);
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    if (type == QtFatalMsg)
        std::abort();
}

namespace
{

void installLogHandler()
{
    qInstallMessageHandler(tellwindMessageHandler);
}

} // namespace

// Before main(): every program and test that links this library logs the
// same way from its first line on.
Q_CONSTRUCTOR_FUNCTION(installLogHandler)
