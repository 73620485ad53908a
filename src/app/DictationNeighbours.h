#pragma once

#include "speech/STTProvider.h"
#include "speech/SupportedLanguage.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

// The recognition manager as the dictation controller uses it. The shared
// instance is wrapped by sharedRecognizer(); tests drive the controller with
// a fake. Change signals carry the new value; a null error string is "none".
class DictationRecognizer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString transcribedText() const = 0;
    virtual QString errorMessage() const = 0;
    virtual bool isListening() const = 0;
    virtual STTProvider activeProvider() const = 0;
    // Empties the recognizer's running transcript and its cloud client's.
    virtual void clearTranscripts() = 0;
    virtual QCoro::Task<> startListening() = 0;
    virtual QCoro::Task<> stopListening() = 0;
    virtual void setLanguage(SupportedLanguage language) = 0;

    static DictationRecognizer &sharedRecognizer();

signals:
    void transcribedTextChanged(const QString &value);
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
    // Forgets what was typed, and anything queued, so a recording starts from a blank diff.
    virtual void resetForNewRecording() = 0;
    virtual QCoro::Task<> insertText(QString text) = 0;
    virtual QCoro::Task<> showEnableAccessibilityAlert() = 0;

    static DictationTyping &sharedTyping();
};
