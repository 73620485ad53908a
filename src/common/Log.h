#pragma once

#include <QString>

// One event, one line on standard output, flushed at once so that a reader of
// the stream (a terminal, a test, journald) sees it in order with the action.
void logLine(const QString &line);
