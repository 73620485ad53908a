#pragma once

#include "fakes/FakePasteboard.h"
#include "platform/KeyboardEventSink.h"

#include <QTextBoundaryFinder>

// Plays the focused text field of a US keyboard: `screen` is what the user
// would now see, `keys` the key-downs read as what they type (⌫ for
// Backspace, ⌘V for a paste from `pasteboard`; "!" for a key-up with flags).
class FakeKeyboardEventSink : public KeyboardEventSink
{
public:
    QString screen, keys;
    int prepared = 0;
    FakePasteboard *pasteboard = nullptr;

    QCoro::Task<> prepareKeystroke() override
    {
        ++prepared;
        co_return;
    }

    bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) override
    {
        if (!keyDown) {
            keys += flags ? QStringLiteral("!") : QString();
        } else if (keyCode == 51) {
            keys += u'⌫';
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, screen);
            finder.toEnd();
            screen.truncate(qMax(finder.toPreviousBoundary(), qsizetype(0)));
        } else if (flags & commandFlag) {
            keys += QStringLiteral("⌘V");
            if (keyCode == 9 && pasteboard)
                screen += pasteboard->take();
        } else {
            keys += usCharacter(keyCode, flags & shiftFlag);
            screen += usCharacter(keyCode, flags & shiftFlag);
        }
        return true;
    }

    // What a US-ANSI key gives, written out independently of the program's
    // own tables (key 10 gives no character).
    static QString usCharacter(quint16 keyCode, bool shift)
    {
        static const QString plain = QStringLiteral("asdfhgzxcv bqweryt123465=97-80]ou[ip\nlj'k;\\,/nm.\t `");
        static const QString shifted = QStringLiteral("ASDFHGZXCV BQWERYT!@#$^%+(&_*)}OU{IP\nLJ\"K:|<?NM>\t ~");
        const QString &keys = shift ? shifted : plain;
        return keyCode < keys.size() && keyCode != 10 ? QString(keys[keyCode]) : QString();
    }
};
