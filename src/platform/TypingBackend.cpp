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
    TypingResult result = TypingResult::skipped(
        QCoreApplication::translate("TypingBackend", "The application did not take pasted text."));
    for (int index : std::as_const(order)) {
        const TypingResult pressed = co_await keys.pressKey(chords.at(index));
        if (!pressed.isOk()) {
            result = pressed;
            break;
        }
        // The target asks for the data after it saw the key; putting the
        // old contents back before that would paste them instead.
        const bool taken = co_await pasteboard.waitUntilTaken(takeTimeout);
        if (taken) {
            lastWorked = index;
            result = TypingResult::ok();
            break;
        }
    }
    pasteboard.setContents(saved);
    co_return result;
}
