#pragma once

#include "app/DictationNeighbours.h"
#include "speech/SupportedLanguage.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

#include <qcoro/qcorotask.h>

class CursorIndicatorService;

// The one dictation controller: starts and stops the recognizer, shows the
// cursor badge while recording, and hands every transcript of the current
// recording to typing. A recording counts as stopped once its last results
// are typed; until then it is finishing, and a new start waits for it.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString transcribedText READ transcribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isFinishing READ isFinishing NOTIFY isFinishingChanged)
    Q_PROPERTY(bool needsAccessibilityPermission READ needsAccessibilityPermission NOTIFY
            needsAccessibilityPermissionChanged)

public:
    // How long the recognizer may stay silent between its own stop and
    // restart (a language change, the fall-back to the cloud path) before the
    // recording counts as ended. Its restarts take well under a second.
    static constexpr std::chrono::milliseconds defaultRestartGrace { 2000 };

    AppState(DictationRecognizer &recognizer, CursorIndicatorService &cursorIndicator,
        DictationTyping &typing, QObject *parent = nullptr);
    ~AppState() override;

    bool isRecording() const { return m_isRecording; }
    QString transcribedText() const { return m_transcribedText; }
    QString errorMessage() const { return m_errorMessage; }
    bool needsAccessibilityPermission() const { return m_needsAccessibilityPermission; }
    bool isFinishing() const { return m_isFinishing; }
    quint64 recording() const { return m_recording; }

    QCoro::Task<> startRecording();
    QCoro::Task<> stopRecording();
    void setLanguage(SupportedLanguage language);
    bool checkAccessibilityPermission();

    // The panel's microphone button: logs the tap and starts or stops.
    Q_INVOKABLE void toggleFromPanel();
    // The language picker's choice, by code.
    Q_INVOKABLE void setLanguageCode(const QString &code);

    void setRestartGrace(std::chrono::milliseconds grace) { m_restartGrace.setInterval(grace); }

signals:
    void isRecordingChanged(bool value);
    void transcribedTextChanged(const QString &value);
    void errorMessageChanged(const QString &value);
    void needsAccessibilityPermissionChanged(bool value);
    void isFinishingChanged(bool value);
    // A start got past the permission check: a new recording begins.
    void recordingStarting();
    // Each failure of the current recording, repeats included.
    void errorReported(const QString &message);
    // Internal hand-offs between the controller's own coroutines.
    void stopSettled();
    void typingSettled();
    void restartSettled();

private:
    void setupBindings();
    QCoro::Task<> handleTranscript(TranscriptEvent event);
    void onListeningChanged(bool listening);
    void onRestartGraceExpired();

    void setIsRecording(bool value);
    void setTranscribedText(const QString &value);
    void setErrorMessage(const QString &value);
    void setNeedsAccessibilityPermission(bool value);
    void setIsFinishing(bool value);

    DictationRecognizer &m_recognizer;
    CursorIndicatorService &m_cursorIndicator;
    DictationTyping &m_typing;

    bool m_isRecording = false;
    QString m_transcribedText;
    QString m_errorMessage;
    bool m_needsAccessibilityPermission = false;
    bool m_isFinishing = false;
    // The recognizer's language, which decides how its text is formatted.

    // Every start makes a new recording; results of any other are dropped.
    quint64 m_recording = 0;
    int m_startsInFlight = 0;
    bool m_stopping = false;
    int m_insertionsInFlight = 0;
    QTimer m_restartGrace;
};
