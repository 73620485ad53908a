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
            if (keyCode == 9 && pasteboard) {
                pasteboard->log << QStringLiteral("taken");
                screen += QString::fromUtf8(pasteboard->current.data(QStringLiteral("text/plain")));
            }
        } else {
            // What the key gives on a US layout, written out independently of
            // the program's own tables (key 10 gives nothing).
            static const QString plain
                = QStringLiteral("asdfhgzxcv bqweryt123465=97-80]ou[ip\nlj'k;\\,/nm.\t `");
            static const QString shifted
                = QStringLiteral("ASDFHGZXCV BQWERYT!@#$^%+(&_*)}OU{IP\nLJ\"K:|<?NM>\t ~");
            const QString &layout = flags & shiftFlag ? shifted : plain;
            const QString typed
                = keyCode < layout.size() && keyCode != 10 ? QString(layout[keyCode]) : QString();
            keys += typed;
            screen += typed;
        }
        return true;
    }
};
