#pragma once

#include "common/Log.h"

#include "platform/SessionInfo.h"
#include "platform/TypingBackend.h"

#include <QLoggingCategory>
#include <QString>

#include <functional>
#include <memory>

class QSettings;
class SyntheticKeyLog;

// Which typing backend a session gets, best first: the compositor's virtual
// keyboard, the RemoteDesktop portal, XTEST, and otherwise none at all.
struct KeyboardChoice {
    enum class Kind { virtualKeyboard, remoteDesktop, xtest, none };

    Kind kind = Kind::none;
    // Why nothing types, or what the chosen backend cannot reach.
    QString limitation;

    // "Wayland virtual keyboard", "RemoteDesktop portal", "X11 (XTEST)", "none".
    static QString name(Kind kind);
    QString name() const { return name(kind); }
    // The same in the user's language.
    static QString displayName(Kind kind);
};

// Whether each facility is there; asked lazily and only when it matters.
struct KeyboardProbes {
    std::function<bool()> virtualKeyboard;
    std::function<bool()> remoteDesktop;
    std::function<bool()> xtest;

    static KeyboardProbes system(const SessionInfo &session);
};

KeyboardChoice chooseKeyboard(const SessionInfo &session, const KeyboardProbes &probes);

struct KeyboardSink {
    std::unique_ptr<TypingBackend> backend;
    KeyboardChoice choice;
};

// The typing backend for this session, built and ready; logs one line naming
// the choice. Never fails: without any way to type, the backend types nothing
// and says why. Keys the backend synthesizes are recorded in `sent`.
KeyboardSink makeKeyboardSink(const SessionInfo &session, SyntheticKeyLog &sent);
KeyboardSink makeKeyboardSink(
    const SessionInfo &session, const KeyboardProbes &probes, SyntheticKeyLog &sent);
