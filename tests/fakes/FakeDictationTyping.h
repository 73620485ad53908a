#pragma once

#include "app/DictationNeighbours.h"

#include <QStringList>

#include <qcoro/qcorotimer.h>

#include <chrono>

// Text insertion that records instead of typing: `journal` has every call in
// order ("reset", "type:<text>" and "typed:<text>" around each insertion,
// "foreign:<text>" for one of another recording, "prompt", "needs
// permission", "permission alert", "enable alert", …).
class FakeDictationTyping : public DictationTyping
{
public:
    bool trusted = true;
    bool trustedAfterPrompt = false;
    std::chrono::milliseconds typingTime { 0 };
    QStringList journal;

    bool isAccessibilityTrusted() const override { return trusted; }
    bool requestAccessibilityTrust() override
    {
        journal << "prompt";
        return trusted = trusted || trustedAfterPrompt;
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
    quint64 recording = 0;
    void beginRecording(quint64 forRecording) override
    {
        recording = forRecording;
        journal << "reset";
    }
    QCoro::Task<> insertTranscript(TranscriptEvent event) override
    {
        const QString text = event.text;
        if (event.recording != recording) {
            journal << "foreign:" + text;
            co_return;
        }
        journal << "type:" + text;
        if (typingTime.count() > 0) {
            QTimer timer;
            timer.setSingleShot(true);
            timer.start(typingTime);
            co_await timer;
        }
        journal << "typed:" + text;
    }
};
