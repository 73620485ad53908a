#pragma once

#include "speech/STTProvider.h"
#include "speech/SupportedLanguage.h"
#include "speech/TranscriptEvent.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

// The recognition manager as the dictation controller uses it; tests drive
// the controller with a fake. Every transcript and error names the recording
// it was heard in. A null error string is "none".
class DictationRecognizer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString errorMessage() const = 0;
    virtual bool isListening() const = 0;
    virtual STTProvider activeProvider() const = 0;
    virtual QCoro::Task<> startListening(quint64 recording) = 0;
    // Returns once the recording's last results are in (or given up).
    virtual QCoro::Task<> stopListening() = 0;
    virtual void setLanguage(SupportedLanguage language) = 0;
    // The language it recognizes, whoever chose it (a stored choice too).
    virtual SupportedLanguage language() const = 0;

signals:
    void transcript(const TranscriptEvent &event);
    void recognitionError(const RecognitionError &error);
    void errorMessageChanged(const QString &value);
    void isListeningChanged(bool value);
};

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
    // What is typed from now on belongs to `recording`; what was typed
    // before is left alone.
    virtual void beginRecording(quint64 recording) = 0;
    // Types the change an event makes to what its utterance typed so far.
    virtual QCoro::Task<> insertTranscript(TranscriptEvent event) = 0;
    virtual QCoro::Task<> showEnableAccessibilityAlert() = 0;
};
