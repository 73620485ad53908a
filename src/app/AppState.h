#pragma once

#include "app/DictationNeighbours.h"
#include "speech/SupportedLanguage.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>

#include <qcoro/qcorotask.h>

class CursorIndicatorService;
class Dictation;

// The one dictation controller. Every start, stop and toggle, from whichever
// source (shortcut, panel, tray, command line), is applied in the order it
// came, against the state the user sees: `isRecording` changes the moment a
// command is accepted, and a toggle reads it. Each recording is a Dictation
// of its own; a new one captures at once, even while the last one still
// collects and types its last words (`isFinishing`).
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
    AppState(DictationRecognizer &recognizer, CursorIndicatorService &cursorIndicator,
        DictationTyping &typing, QObject *parent = nullptr);
    ~AppState() override;

    bool isRecording() const { return m_isRecording; }
    QString transcribedText() const { return m_transcribedText; }
    QString errorMessage() const { return m_errorMessage; }
    bool needsAccessibilityPermission() const { return m_needsAccessibilityPermission; }
    bool isFinishing() const { return m_isFinishing; }
    // The newest recording's id (0 before the first).
    quint64 recording() const { return m_recording; }

    // Each returns once its command is applied; a stop once the recording's
    // last words are typed.
    QCoro::Task<> startRecording();
    QCoro::Task<> stopRecording();
    QCoro::Task<> toggleRecording();
    void setLanguage(SupportedLanguage language);
    bool checkAccessibilityPermission();

    // The panel's microphone button: logs the tap and starts or stops.
    Q_INVOKABLE void toggleFromPanel();
    // The language picker's choice, by code.
    Q_INVOKABLE void setLanguageCode(const QString &code);

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
    // Internal: a queued command was applied.
    void commandApplied();

private:
    struct Command {
        bool start = false;
        bool applied = false;
        // The recording a stop ended, whose last words the caller may wait for.
        QPointer<Dictation> stopped;
    };

    QCoro::Task<> submit(bool start);
    QCoro::Task<> runCommands();
    QCoro::Task<> applyStart();
    QPointer<Dictation> applyStop();
    void retire(Dictation *dictation);
    QCoro::Task<> offerUntypedTexts();

    void setIsRecording(bool value);
    void setTranscribedText(const QString &value);
    void setErrorMessage(const QString &value);
    void setNeedsAccessibilityPermission(bool value);
    void updateIsFinishing();

    DictationRecognizer &m_recognizer;
    CursorIndicatorService &m_cursorIndicator;
    DictationTyping &m_typing;

    bool m_isRecording = false;
    QString m_transcribedText;
    QString m_errorMessage;
    bool m_needsAccessibilityPermission = false;
    bool m_isFinishing = false;

    quint64 m_recording = 0;
    std::deque<std::shared_ptr<Command>> m_commands;
    bool m_running = false;
    // The recording that listens now, and those still typing their last words.
    QPointer<Dictation> m_current;
    QList<QPointer<Dictation>> m_finishing;
    // Text that could not be typed, offered once no dictation runs.
    QStringList m_untyped;
    bool m_offering = false;
};
