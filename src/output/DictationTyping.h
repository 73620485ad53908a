#pragma once

#include "speech/TranscriptEvent.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

struct TypingScope;

// Text insertion as the application core uses it: typing for the dictation
// controller, the permission check and its alerts for start-up.
class DictationTyping
{
public:
    virtual ~DictationTyping() = default;

    virtual bool isAccessibilityTrusted() const = 0;
    // The variant that asks the desktop to let us in (the system prompt).
    virtual bool requestAccessibilityTrust() = 0;
    virtual void setNeedsAccessibilityPermission(bool needed) = 0;
    virtual QCoro::Task<> showAccessibilityPermissionAlert() = 0;
    // What one dictation types from now on, and where: the scope holds its
    // typed text and the window it types into.
    virtual std::shared_ptr<TypingScope> beginDictation() = 0;
    // Types the change an event makes to what its utterance typed so far.
    virtual QCoro::Task<> insertTranscript(std::shared_ptr<TypingScope> scope, TranscriptEvent event) = 0;
    // Offers text that could not be typed for the clipboard.
    virtual QCoro::Task<> offerUntypedText(QString text) = 0;
    virtual QCoro::Task<> showEnableAccessibilityAlert() = 0;
};
