#pragma once

#include "fakes/FakePasteboard.h"
#include "platform/KeyboardEventSink.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTextBoundaryFinder>

// Records every key event, and also plays the focused text field of a US
// keyboard: `screen` is what the user would now see. Ctrl+V pastes from the
// fake pasteboard when one is attached.
class FakeKeyboardEventSink : public KeyboardEventSink
{
public:
    struct Event {
        quint16 keyCode;
        bool keyDown;
        quint64 flags;
        qint64 atMs;

        friend bool operator==(const Event &a, const Event &b)
        {
            return a.keyCode == b.keyCode && a.keyDown == b.keyDown && a.flags == b.flags;
        }
    };

    QList<Event> events;
    QString screen;
    int prepared = 0;
    FakePasteboard *pasteboard = nullptr;
    // Called on every event, for tests that act in the middle of a run.
    std::function<void(const Event &)> onEvent;

    FakeKeyboardEventSink() { m_clock.start(); }

    QCoro::Task<> prepareKeystroke() override
    {
        ++prepared;
        co_return;
    }

    bool postKeyEvent(quint16 keyCode, bool keyDown, quint64 flags) override
    {
        const Event event{keyCode, keyDown, flags, m_clock.elapsed()};
        events.append(event);
        if (keyDown)
            apply(keyCode, flags);
        if (onEvent)
            onEvent(event);
        return true;
    }

    QList<Event> keyDowns() const
    {
        QList<Event> result;
        for (const Event &event : events) {
            if (event.keyDown)
                result.append(event);
        }
        return result;
    }
    int count(quint16 keyCode) const
    {
        int n = 0;
        for (const Event &event : events)
            n += event.keyDown && event.keyCode == keyCode;
        return n;
    }
    void clear()
    {
        events.clear();
        screen.clear();
    }

    // What a US-ANSI key gives, written out independently of the program's
    // own tables.
    static QChar usCharacter(quint16 keyCode, bool shift)
    {
        static const char *const plain[] = {
            "a", "s", "d", "f", "h", "g", "z", "x", "c", "v", "", "b", "q", "w", "e", "r", "y", "t",
            "1", "2", "3", "4", "6", "5", "=", "9", "7", "-", "8", "0", "]", "o", "u", "[", "i", "p",
            "\n", "l", "j", "'", "k", ";", "\\", ",", "/", "n", "m", ".", "\t", " ", "`"};
        static const char *const shifted[] = {
            "A", "S", "D", "F", "H", "G", "Z", "X", "C", "V", "", "B", "Q", "W", "E", "R", "Y", "T",
            "!", "@", "#", "$", "^", "%", "+", "(", "&", "_", "*", ")", "}", "O", "U", "{", "I", "P",
            "\n", "L", "J", "\"", "K", ":", "|", "<", "?", "N", "M", ">", "\t", " ", "~"};
        if (keyCode > 50)
            return {};
        const char *text = shift ? shifted[keyCode] : plain[keyCode];
        return *text ? QChar::fromLatin1(*text) : QChar();
    }

private:
    void apply(quint16 keyCode, quint64 flags)
    {
        if (keyCode == 51) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, screen);
            finder.toEnd();
            const qsizetype start = finder.toPreviousBoundary();
            screen.truncate(start < 0 ? 0 : start);
            return;
        }
        if (flags & commandFlag) {
            if (keyCode == 9 && pasteboard)
                screen += pasteboard->take();
            return;
        }
        const QChar character = usCharacter(keyCode, flags & shiftFlag);
        if (!character.isNull())
            screen += character;
    }

    QElapsedTimer m_clock;
};
