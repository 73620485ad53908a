#pragma once

#include "common/Graphemes.h"
#include "fakes/FakePasteboard.h"
#include "platform/TypingBackend.h"

#include <qcoro/qcorotimer.h>

// A focused US text field: `screen` is what the user sees, `keys` what reached it (⌫ Backspace, ^V a paste
// from `pasteboard`, ^⇧V the terminal's paste, ignored). Keys fail once `keysLeft` reaches 0.
class FakeTypingBackend : public TypingBackend
{
public:
    QString screen, keys;
    FakePasteboard *pasteboard = nullptr;
    int keysLeft = -1;
    bool pastes = true; // false: a field that takes no paste at all

    bool canSynthesizeInput() override { return true; }
    bool canType(const QString &grapheme) override
    {
        const char16_t c = grapheme.size() == 1 ? grapheme.front().unicode() : 0;
        return c == u'\n' || c == u'\t' || (c >= 0x20 && c < 0x7f);
    }
    QCoro::Task<TypingResult> typeText(QString text) override
    {
        for (const QString &grapheme : Graphemes::split(text)) {
            if (!take())
                co_return TypingResult::failed(QStringLiteral("the field went away"));
            keys += grapheme;
            screen += grapheme;
            co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        }
        co_return TypingResult::ok();
    }
    QCoro::Task<TypingResult> erase(int graphemes) override
    {
        for (int i = 0; i < graphemes; ++i) {
            if (!take())
                co_return TypingResult::failed(QStringLiteral("the field went away"));
            keys += u'⌫';
            const QStringList shown = Graphemes::split(screen);
            screen.chop(shown.isEmpty() ? 0 : shown.last().size());
        }
        co_return TypingResult::ok();
    }
    QCoro::Task<TypingResult> pressKey(KeyChord chord) override
    {
        if (!take())
            co_return TypingResult::failed(QStringLiteral("the field went away"));
        const bool paste = chord.control && (chord.keysym == 'v' || chord.keysym == 'V');
        keys += paste ? (chord.shift ? QStringLiteral("^⇧V") : QStringLiteral("^V")) : QStringLiteral("?");
        if (paste && !chord.shift && pasteboard && pastes) {
            pasteboard->log << QStringLiteral("taken");
            screen += QString::fromUtf8(pasteboard->current.data(QStringLiteral("text/plain")));
        }
        co_return TypingResult::ok();
    }
    QCoro::Task<TypingResult> pasteText(QString text) override
    {
        if (!pasteboard)
            co_return TypingResult::skipped(QStringLiteral("no clipboard"));
        // A terminal's paste first, as on a desktop that cannot tell.
        const QList<KeyChord> chords = { { 'v', true, true, false }, { 'v', true, false, false } };
        co_return co_await pasteThroughClipboard(
            *pasteboard, *this, std::move(text), chords, pasteChord, std::chrono::milliseconds(0));
    }

private:
    bool take() { return keysLeft < 0 || keysLeft-- > 0; }
};
