#pragma once

#include <QLoggingCategory>
#include <QString>

// The program's log: one event, one line on standard output, flushed at once
// so that a reader of the stream (a terminal, a test, journald) sees it in
// order with the action. Each line belongs to a category, so QT_LOGGING_RULES
// can silence a subsystem or open up its debug lines.
//
// What the user dictates is never logged at the info level: transcripts and
// typed text go through logDictated(), which writes only where the category's
// debug level is on (QT_LOGGING_RULES="tellwind.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSpeech)
Q_DECLARE_LOGGING_CATEGORY(lcOutput)
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
Q_DECLARE_LOGGING_CATEGORY(lcAccount)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcServer)

void logLine(const QLoggingCategory &category, const QString &line);
// Lines without a subsystem of their own.
void logLine(const QString &line);
// A line that carries dictated text (or anything derived from it).
void logDictated(const QLoggingCategory &category, const QString &line);
