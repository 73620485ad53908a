#pragma once

#include "app/DictationNeighbours.h"
#include "speech/SupportedLanguage.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

// One recording, from its start until its last words are typed: its id, the
// recognition session it hears, the language its words are formatted in, and
// the typing scope that holds what it typed and where. Results reach it only
// from its own session, and once its stop has settled the session is closed:
// nothing of it can reach a later recording.
class Dictation : public QObject
{
    Q_OBJECT

public:
    Dictation(quint64 recording, SupportedLanguage language, DictationRecognizer &recognizer,
        DictationTyping &typing, QObject *parent = nullptr);
    ~Dictation() override;

    quint64 recording() const { return m_recording; }
    bool isFinished() const { return m_finished; }
    void setLanguage(SupportedLanguage language) { m_language = language; }

    // False when nothing listens (the recognizer says why).
    QCoro::Task<bool> start();
    // Closes the microphone at once, then returns when the last words are in
    // and typed. Safe to call more than once.
    QCoro::Task<> stop();
    // Everything it meant to type, when part of it could not be typed.
    QString untypedText() const;

Q_SIGNALS:
    void transcribed(const QString &text);
    void failed(const QString &message);
    // The microphone closed without a stop (the sound server went away).
    void endedByItself();
    // Internal: one transcript is typed; the stop has settled.
    void typingSettled();
    void finished();

private:
    QCoro::Task<> handleTranscript(TranscriptEvent event);

    const quint64 m_recording;
    SupportedLanguage m_language;
    DictationRecognizer &m_recognizer;
    DictationTyping &m_typing;
    std::shared_ptr<RecognitionSession> m_session;
    std::shared_ptr<TypingScope> m_scope;
    int m_insertionsInFlight = 0;
    bool m_stopping = false;
    bool m_finished = false;
};
