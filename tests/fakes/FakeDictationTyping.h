#pragma once

#include "app/DictationNeighbours.h"
#include "output/TypingScope.h"

#include <QStringList>

#include <qcoro/qcorotimer.h>

#include <chrono>

// Text insertion that records instead of typing: `journal` has every call in
// order ("begin", "type:<text>" and "typed:<text>" around each insertion,
// "prompt", "needs permission", "permission alert", "enable alert",
// "offer:<text>", …).
class FakeDictationTyping : public DictationTyping
{
public:
    bool trusted = true;
    std::chrono::milliseconds typingTime { 0 };
    QStringList journal;

    bool isAccessibilityTrusted() const override { return trusted; }
    bool requestAccessibilityTrust() override
    {
        journal << "prompt";
        return trusted;
    }
    void setNeedsAccessibilityPermission(bool needed) override
    {
        journal << (needed ? "needs permission" : "has permission");
    }
    QCoro::Task<> showAccessibilityPermissionAlert() override
    {
        journal << "permission alert";
        co_return;
    }
    QCoro::Task<> showEnableAccessibilityAlert() override
    {
        journal << "enable alert";
        co_return;
    }
    std::shared_ptr<TypingScope> beginDictation() override
    {
        journal << "begin";
        return std::make_shared<TypingScope>();
    }
    QCoro::Task<> insertTranscript(std::shared_ptr<TypingScope> scope, TranscriptEvent event) override
    {
        const QString text = event.text;
        scope->meant[event.utterance] = text;
        journal << "type:" + text;
        if (typingTime.count() > 0)
            co_await QCoro::sleepFor(typingTime);
        journal << "typed:" + text;
    }
    QCoro::Task<> offerUntypedText(QString text) override
    {
        journal << "offer:" + text;
        co_return;
    }
};
