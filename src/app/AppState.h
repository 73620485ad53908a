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
// cursor badge while recording, and hands every new transcript to typing.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString transcribedText READ transcribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool needsAccessibilityPermission READ needsAccessibilityPermission NOTIFY
                   needsAccessibilityPermissionChanged)

public:
    // How long the recognizer may stay silent between its own stop and
    // restart (a language change, the fall-back to the cloud path) before the
    // recording counts as ended. Its restarts take well under a second.
    static constexpr std::chrono::milliseconds defaultRestartGrace{2000};

    // Null neighbours mean the process-wide shared instances.
    explicit AppState(DictationRecognizer *recognizer = nullptr,
                      CursorIndicatorService *cursorIndicator = nullptr,
                      DictationTyping *typing = nullptr, QObject *parent = nullptr);
    ~AppState() override;

    bool isRecording() const { return m_isRecording; }
    QString transcribedText() const { return m_transcribedText; }
    QString errorMessage() const { return m_errorMessage; }
    bool needsAccessibilityPermission() const { return m_needsAccessibilityPermission; }
    QString lastInsertedText() const { return m_lastInsertedText; }

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
    // Internal hand-offs between the controller's own coroutines.
    void previousRecordingSettled();
    void restartSettled();

private:
    void setupBindings();
    void handleNewText(const QString &recognized);
    void onListeningChanged(bool listening);
    void onRestartGraceExpired();
    QCoro::Task<> settlePreviousRecording();
    void workFinished();
    bool hasWorkInFlight() const { return m_stopsInFlight > 0 || m_insertionsInFlight > 0; }

    void setIsRecording(bool value);
    void setTranscribedText(const QString &value);
    void setErrorMessage(const QString &value);
    void setNeedsAccessibilityPermission(bool value);

    DictationRecognizer &m_recognizer;
    CursorIndicatorService &m_cursorIndicator;
    DictationTyping &m_typing;

    bool m_isRecording = false;
    QString m_transcribedText;
    QString m_errorMessage;
    bool m_needsAccessibilityPermission = false;
    QString m_lastInsertedText;
    // The recognizer's language, which decides how its text is formatted.
    SupportedLanguage m_language = SupportedLanguage::english_US;

    // Bumped when a start empties the transcript holders; a transcript the
    // recognizer published before that belongs to the previous recording.
    quint64 m_transcriptGeneration = 0;
    int m_startsInFlight = 0;
    int m_stopsInFlight = 0;
    int m_insertionsInFlight = 0;
    QTimer m_restartGrace;
};
