#pragma once

#include "speech/RecognitionSession.h"
#include "speech/SupportedLanguage.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

// The recognition manager as the dictation controller uses it; tests drive
// the controller with a fake. A start hands out the session the recording's
// results come from. A null error string is "none".
class DictationRecognizer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    using QObject::QObject;

    virtual QString errorMessage() const = 0;
    // The id of the engine that hears the session, and whether the audio
    // leaves this machine for it.
    virtual QString activeEngine() const = 0;
    virtual bool isActiveEngineRemote() const = 0;
    // Null when nothing listens (the reason is in errorMessage()). A start
    // waits only for the last recording's microphone to close, never for
    // its last results.
    virtual QCoro::Task<std::shared_ptr<RecognitionSession>> startListening(quint64 recording) = 0;
    // Closes the session's microphone, then returns once its last results
    // are in (or given up); the session says nothing after that.
    virtual QCoro::Task<> stopListening(std::shared_ptr<RecognitionSession> session) = 0;
    virtual void setLanguage(SupportedLanguage language) = 0;
    // The language it recognizes, whoever chose it (a stored choice too).
    virtual SupportedLanguage language() const = 0;

Q_SIGNALS:
    void errorMessageChanged(const QString &value);
};
