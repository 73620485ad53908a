#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class Pasteboard;

// How a typing request ended. Never a bare bool: what the user is told comes
// with it.
struct TypingResult {
    enum class Status {
        ok,
        // Nothing went wrong for good: trying the same again soon may work
        // (a session still opening, a key the user will let go of).
        retry,
        // It will not work this way; `message` says why, in the user's words.
        failed,
        // Nothing arrived, and nothing else is wrong: the text cannot go
        // this way here (a paste no application took).
        skipped,
    };

    Status status = Status::ok;
    QString message;

    static TypingResult ok() { return {}; }
    static TypingResult retry(QString message) { return { Status::retry, std::move(message) }; }
    static TypingResult failed(QString message) { return { Status::failed, std::move(message) }; }
    static TypingResult skipped(QString message) { return { Status::skipped, std::move(message) }; }
    bool isOk() const { return status == Status::ok; }
};

// A key and the modifiers held with it, written as xdotool and desktop
// settings write them: "Return", "Tab", "ctrl+shift+v". The key is an XKB
// keysym name; case matters only in it.
struct KeyChord {
    quint32 keysym = 0;
    bool control = false;
    bool shift = false;
    bool alt = false;

    static std::optional<KeyChord> parse(const QString &chord);
    friend bool operator==(const KeyChord &, const KeyChord &) = default;
};

// Synthesized keyboard input towards the focused application, in Linux
// terms: text as graphemes, keys as keysyms. Each call types in full or says
// why not; calls never overlap (the caller awaits each one).
class TypingBackend
{
public:
    virtual ~TypingBackend() = default;

    // Whether this session lets Tellwind synthesize input now. Asking may
    // connect (the X display, the compositor) or open a portal session.
    virtual bool canSynthesizeInput() = 0;
    // Why it cannot, in the user's words; empty when it can.
    virtual QString limitation() const { return {}; }

    // Whether one grapheme reaches the target as keys; what cannot is pasted.
    virtual bool canType(const QString &grapheme) = 0;
    // Every grapheme of `text` (each one canType) as keys, in order, at the
    // pace the target needs.
    virtual QCoro::Task<TypingResult> typeText(QString text) = 0;
    // Backspace, once per grapheme.
    virtual QCoro::Task<TypingResult> erase(int graphemes) = 0;
    virtual QCoro::Task<TypingResult> pressKey(KeyChord chord) = 0;
    // Through the clipboard, whose contents come back afterwards in every
    // format; skipped when no application took the text.
    virtual QCoro::Task<TypingResult> pasteText(QString text) = 0;

    // Typing goes to another window from now on: which paste chord the last
    // one took says nothing about this one (a terminal given a field's
    // Ctrl+V gets a control character).
    void newTarget() { pasteChord = 0; }

protected:
    // Which of pasteThroughClipboard's chords the target took last.
    int pasteChord = 0;
};

// A paste as every backend does it: the text on `pasteboard`, the first of
// `chords` that makes the target read it (ordinary fields take Ctrl+V,
// terminals Ctrl+Shift+V), then the user's contents back. `lastWorked`
// remembers which chord did, to try it first next time.
QCoro::Task<TypingResult> pasteThroughClipboard(Pasteboard &pasteboard, TypingBackend &keys, QString text,
    QList<KeyChord> chords, int &lastWorked, std::chrono::milliseconds takeTimeout);
