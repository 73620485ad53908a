#pragma once

#include <QLoggingCategory>
#include <QString>

// The program's log goes through Qt's logging with these categories, so
// QT_LOGGING_RULES can silence a subsystem or open up its debug lines. The
// message handler installed at start-up writes one event per line on
// standard output, flushed at once so that a reader of the stream (a
// terminal, a test, journald) sees it in order with the action; under
// journald each line carries its priority.
//
// What the user dictates is never logged at the info level: transcripts and
// typed text go to qCDebug only, which is off unless asked for
// (QT_LOGGING_RULES="tellwind.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSpeech)
Q_DECLARE_LOGGING_CATEGORY(lcOutput)
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
Q_DECLARE_LOGGING_CATEGORY(lcAccount)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcServer)

// The handler that writes them; installed before main(). QtTest puts its own
// in place, so a test that reads the program's lines installs this again.
void tellwindMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The line as written for a message of `type`: the text itself, after a
// syslog priority ("<4>") when standard output is journald's.
QByteArray formatLogLine(QtMsgType type, const QString &message, bool forJournal);
