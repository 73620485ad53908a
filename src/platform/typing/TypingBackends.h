#pragma once

#include "platform/SessionInfo.h"
#include "platform/TypingBackend.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class Pasteboard;
class SyntheticKeyLog;

// What a typing backend is built with.
struct TypingContext {
    SessionInfo session;
    // Every key an X11 backend sends goes here, so the key monitor can tell
    // it from the user's.
    SyntheticKeyLog &sent;
    Pasteboard &pasteboard;
};

// One way of typing, as a row of the table the session's backend is chosen
// from: the lowest preference that serves the session, and answers when it
// must be asked, wins.
struct TypingBackendRow {
    enum class Serves { no, yes, ifProbed };

    // For the log and the settings ("X11 (XTEST)"); translated for display
    // in the "KeyboardChoice" context.
    const char *name = nullptr;
    int preference = 0;
    std::function<Serves(const SessionInfo &)> serves;
    // Whether it answers now; may connect, so it is asked only when needed.
    std::function<bool(const SessionInfo &)> probe;
    std::function<std::unique_ptr<TypingBackend>(const TypingContext &)> make;
    // What it cannot reach on this session, for the log; empty: nothing.
    std::function<QString(const SessionInfo &)> limitation;
    // Shown once when it is chosen with a limitation (untranslated, in the
    // "KeyboardChoice" context); none when null.
    const char *noticeTitle = nullptr;
    const char *noticeText = nullptr;
};

// Every backend this build has, best first; the last one types nothing and
// serves every session.
const QList<TypingBackendRow> &typingBackendTable();

struct TypingChoice {
    const TypingBackendRow *row = nullptr;
    QString limitation;

    QString name() const;
    // The same in the user's language.
    QString displayName() const;
};

TypingChoice chooseTypingBackend(const SessionInfo &session, const QList<TypingBackendRow> &table);

struct TypingSetup {
    std::unique_ptr<TypingBackend> backend;
    TypingChoice choice;
};

// The typing backend for this session, built and ready; logs one line naming
// the choice. Never fails: without any way to type, the backend types nothing
// and says why.
TypingSetup makeTypingBackend(const TypingContext &context);
TypingSetup makeTypingBackend(const TypingContext &context, const QList<TypingBackendRow> &table);
