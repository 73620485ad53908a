#include "platform/TypingBackend.h"

#include "platform/Pasteboard.h"

#include <QCoreApplication>

#include <xkbcommon/xkbcommon.h>

std::optional<KeyChord> KeyChord::parse(const QString &chord)
{
    const QStringList parts = chord.split(u'+');
    KeyChord result;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString modifier = parts.at(i).trimmed().toLower();
        if (modifier == QLatin1String("ctrl") || modifier == QLatin1String("control"))
            result.control = true;
        else if (modifier == QLatin1String("shift"))
            result.shift = true;
        else if (modifier == QLatin1String("alt"))
            result.alt = true;
        else
            return std::nullopt;
    }
    const QByteArray name = parts.last().trimmed().toUtf8();
    result.keysym = xkb_keysym_from_name(name.constData(), XKB_KEYSYM_NO_FLAGS);
    if (result.keysym == XKB_KEY_NoSymbol)
        return std::nullopt;
    return result;
}

namespace
{

using namespace std::chrono_literals;

// A clipboard manager copies a new clipboard within a few milliseconds of
// its appearing, sometimes in more than one read.
constexpr auto managerReadWait = 60ms;
constexpr auto managerQuiet = 20ms;
// A target may read more than one format, and a slow manager's copy may be
// the read seen first: the contents go back once the reads have stopped.
constexpr auto readsQuiet = 100ms;

// Waits for a read after the first `seen` within `first`, then until no
// more come within `quiet`; answers whether there was one.
QCoro::Task<bool> readsSettled(
    Pasteboard &pasteboard, int seen, std::chrono::milliseconds first, std::chrono::milliseconds quiet)
{
    // Each await is a statement of its own: g++ 12 miscompiles some awaits
    // in loop conditions.
    bool read = co_await pasteboard.waitForRead(seen, first);
    if (!read)
        co_return false;
    while (read) {
        const int reads = pasteboard.reads();
        read = co_await pasteboard.waitForRead(reads, quiet);
    }
    co_return true;
}

} // namespace

QCoro::Task<TypingResult> pasteThroughClipboard(Pasteboard &pasteboard, TypingBackend &keys, QString text,
    QList<KeyChord> chords, int &lastWorked, std::chrono::milliseconds takeTimeout)
{
    QList<int> order;
    for (int i = 0; i < chords.size(); ++i)
        order << i;
    if (lastWorked > 0 && lastWorked < chords.size())
        order.move(lastWorked, 0);
    // A text-only copy would lose images and rich text the user had copied.
    const PasteboardContents saved = pasteboard.contents();
    pasteboard.setText(text);
    // A manager's copy is no paste: had it been taken for the target's read,
    // the user's contents would be back before the target asked, and it
    // would paste those instead.
    co_await readsSettled(pasteboard, 0, managerReadWait, managerQuiet);
    TypingResult result = TypingResult::skipped(
        QCoreApplication::translate("TypingBackend", "The application did not take pasted text."));
    for (int index : std::as_const(order)) {
        const int seen = pasteboard.reads();
        const TypingResult pressed = co_await keys.pressKey(chords.at(index));
        if (!pressed.isOk()) {
            result = pressed;
            break;
        }
        // The target asks for the data after it saw the key; putting the
        // old contents back before that would paste them instead.
        const bool taken = co_await readsSettled(pasteboard, seen, takeTimeout, readsQuiet);
        if (taken) {
            lastWorked = index;
            result = TypingResult::ok();
            break;
        }
    }
    pasteboard.setContents(saved);
    co_return result;
}
