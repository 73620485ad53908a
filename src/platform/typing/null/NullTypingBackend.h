#pragma once

#include "platform/TypingBackend.h"

// Types nothing, and says why whenever it is asked to.
class NullTypingBackend : public TypingBackend
{
public:
    explicit NullTypingBackend(QString reason);

    bool canSynthesizeInput() override;
    QString limitation() const override { return m_reason; }
    bool canType(const QString &) override { return false; }
    QCoro::Task<TypingResult> typeText(QString text) override;
    QCoro::Task<TypingResult> erase(int graphemes) override;
    QCoro::Task<TypingResult> pressKey(KeyChord chord) override;
    QCoro::Task<TypingResult> pasteText(QString text) override;

private:
    QCoro::Task<TypingResult> refuse();

    QString m_reason;
};
