#pragma once

#include "app/DictationNeighbours.h"

#include <QStringList>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

#include <chrono>

#include <memory>

// A recognition manager that does what the test says, with the fields the panel reads (for the views).
class FakeDictationRecognizer : public DictationRecognizer
{
    Q_OBJECT
    Q_PROPERTY(bool prefersRemoteEngine MEMBER prefersRemote NOTIFY preferredEngineChanged)
    Q_PROPERTY(SupportedLanguage selectedLanguage MEMBER chosenLanguage NOTIFY selectedLanguageChanged)

public:
    QStringList calls; // "start", "stop", "language:<code>", in order
    QString startError; // when set, a start fails and publishes it
    bool holdStop = false; // a stop's last results wait for release()
    QString transcriptAtStop; // published as a stop finishes, like the last upload's reply
    std::chrono::milliseconds startTime { 0 }; // how long a start takes
    bool prefersRemote = false;
    SupportedLanguage chosenLanguage = SupportedLanguage::english_US;
    // The session that listens now, and every one handed out.
    std::shared_ptr<RecognitionSession> session;
    QList<std::shared_ptr<RecognitionSession>> sessions;

    QString errorMessage() const override { return m_error; }
    QString activeEngine() const override { return QStringLiteral("On-device"); }
    bool isActiveEngineRemote() const override { return false; }
    bool isListening() const { return session != nullptr; }

    QCoro::Task<std::shared_ptr<RecognitionSession>> startListening(quint64 forRecording) override
    {
        calls << "start";
        if (startTime.count() > 0)
            co_await QCoro::sleepFor(startTime);
        // The last session's error goes at every start, as the manager's does.
        if (!m_error.isNull())
            emit errorMessageChanged(m_error = QString());
        if (!startError.isNull()) {
            emit errorMessageChanged(m_error = startError);
            co_return std::shared_ptr<RecognitionSession>();
        }
        session = std::make_shared<RecognitionSession>(forRecording);
        sessions << session;
        // A copy: QCoro moves whatever is returned, and the member must stay.
        co_return std::shared_ptr<RecognitionSession>(session);
    }
    QCoro::Task<> stopListening(std::shared_ptr<RecognitionSession> stopped) override
    {
        calls << "stop";
        if (session == stopped)
            session.reset();
        if (holdStop)
            co_await qCoro(this, &FakeDictationRecognizer::released);
        if (!transcriptAtStop.isNull())
            stopped->deliver(TranscriptEvent { 0, 0, transcriptAtStop, true });
    }
    SupportedLanguage language() const override { return chosenLanguage; }
    void setLanguage(SupportedLanguage chosen) override
    {
        calls << "language:" + chosen.rawValue();
        chosenLanguage = chosen;
        emit selectedLanguageChanged(chosen);
    }
    Q_INVOKABLE void togglePreferredProvider()
    {
        prefersRemote = !prefersRemote;
        emit preferredEngineChanged();
    }

    void release() { emit released(); }
    // To the listening session, utterance 0 unless told otherwise.
    void publishTranscript(const QString &text, quint64 utterance = 0, bool isFinal = false)
    {
        if (session)
            session->deliver(TranscriptEvent { 0, utterance, text, isFinal });
    }
    // Every call publishes, as the recognizer does for each failure it meets.
    void publishError(const QString &message)
    {
        emit errorMessageChanged(m_error = message);
        if (session)
            session->fail(message);
    }

signals:
    void released();
    void preferredEngineChanged();
    void selectedLanguageChanged(SupportedLanguage value);

private:
    QString m_error;
};
