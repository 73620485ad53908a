#pragma once

#include "platform/WindowSystem.h"

#include <QMap>
#include <QString>

#include <optional>

// What one dictation typed, and where. Each dictation has its own, so the
// typing of one can never be mistaken for another's: a late revision of the
// last recording edits only the text that recording typed, and only in the
// window it typed into.
struct TypingScope {
    // The window that had the focus when its first words were typed; the
    // rest goes there or nowhere. 0 where the session cannot tell windows apart.
    WindowSystem::WindowId window = 0;
    bool hasWindow = false;
    // The window that had the focus when it began: where words that come
    // only after a later dictation began may still go.
    WindowSystem::WindowId startWindow = 0;
    // Later dictations have higher numbers.
    quint64 serial = 0;
    // A later dictation began: once that one typed, this one's backspaces
    // would land in the newer text.
    bool superseded = false;
    // Something was due while the focus was elsewhere: nothing more is typed.
    bool heldBack = false;

    // What stood before its first words in the same place (the last
    // dictation's text there), for the first separator.
    QString context;
    // context + everything it typed.
    QString text;
    // The utterance being typed: the text before it, its separator (chosen at
    // its first word) and what it typed after that.
    std::optional<quint64> utterance;
    QString beforeUtterance;
    std::optional<QString> separator;
    QString utteranceTyped;

    // The newest formatted text of each utterance, typed or not.
    QMap<quint64, QString> meant;

    // Everything the dictation meant to type, with its separators.
    QString meantText() const;
    // What this dictation typed, without the context.
    QString typed() const { return text.mid(context.size()); }
};
