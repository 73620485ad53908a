#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

// Modifier state of a key event. The high 16 bits say which modifiers are in
// effect, whatever key produces them; the low 16 bits are reserved for
// device-dependent detail (which of a pair of keys) and carry nothing a
// shortcut should depend on.
namespace KeyModifier
{
enum : quint32 {
    capsLock = 1u << 16,
    shift = 1u << 17,
    control = 1u << 18,
    alt = 1u << 19,
    super = 1u << 20, // Super, Hyper, the Windows or Command key
    numericPad = 1u << 21,
    help = 1u << 22,
    function = 1u << 23,
    altGr = 1u << 24, // third and fifth level shifts, Mode_switch
    other = 1u << 25, // a modifier with no known role
};
constexpr quint32 deviceIndependentMask = 0xFFFF0000u;
} // namespace KeyModifier

// One key-down. `keyCode` names the physical key by its position on the
// US-ANSI layout (so 15 is the key labelled R there, whatever the active
// layout types with it); keys outside that block read as `noKeyCode`.
struct KeyEvent {
    static constexpr quint16 noKeyCode = 0xFFFF;
    static constexpr quint16 ansiR = 15;

    quint16 keyCode = noKeyCode;
    quint32 modifierFlags = 0;
    bool isRepeat = false; // produced by holding the key down
};

// Watches key-downs without consuming them: the focused application still
// receives every key. A global monitor sees keys sent to other applications,
// a local one keys sent to this program's own windows. Keys this program
// synthesizes itself never reach either.
class SyntheticKeyLog;

class KeyMonitor
{
public:
    using Handle = quint64;
    using Handler = std::function<void(const KeyEvent &)>; // called on the main thread

    virtual ~KeyMonitor() = default;

    // The handle of the installed monitor; nothing when the platform cannot
    // watch those keys (or a monitor installed otherwise already sees them).
    virtual std::optional<Handle> addGlobalMonitor(Handler handler) = 0;
    virtual std::optional<Handle> addLocalMonitor(Handler handler) = 0;
    virtual void removeMonitor(Handle handle) = 0;

    // The monitor for this session: X11 when the program runs on an X
    // display, otherwise one that installs nothing. Keys recorded in `sent`
    // are our own and never reach a handler.
    static std::unique_ptr<KeyMonitor> createSystemMonitor(SyntheticKeyLog &sent);
};
