#pragma once

#include "app/DictationNeighbours.h"

#include <QStringList>
#include <QTimer>

#include <qcoro/qcorosignal.h>

// A recognition manager that does what the test says. It also carries the
// fields the panel reads, so it stands in for the manager in the views.
class FakeDictationRecognizer : public DictationRecognizer
{
    Q_OBJECT
    Q_PROPERTY(STTProviders::STTProvider preferredProvider MEMBER preferred NOTIFY preferredProviderChanged)
    Q_PROPERTY(SupportedLanguage selectedLanguage MEMBER chosenLanguage NOTIFY selectedLanguageChanged)

public:
    QStringList calls; // "start", "stop", "language:<code>", in order
    QString startError; // when set, a start fails and publishes it
    bool holdStop = false; // a stop waits for release()
    QString transcriptAtStop; // published as a stop finishes, like the last upload's reply
    quint64 recording = 0; // the one the last start was for
    STTProvider preferred = STTProvider::onDevice;
    SupportedLanguage chosenLanguage = SupportedLanguage::english_US;

    QString transcribedText() const { return m_text; }
    QString errorMessage() const override { return m_error; }
    bool isListening() const override { return m_listening; }
    STTProvider activeProvider() const override { return STTProvider::onDevice; }

    QCoro::Task<> startListening(quint64 forRecording) override
    {
        calls << "start";
        recording = forRecording;
        m_text.clear();
        // The last session's error goes at every start, as the manager's does.
        if (!m_error.isNull())
            emit errorMessageChanged(m_error = QString());
        if (!startError.isNull())
            emit errorMessageChanged(m_error = startError);
        else
            setListening(true);
        co_return;
    }
    QCoro::Task<> stopListening() override
    {
        calls << "stop";
        if (m_listening && holdStop)
            co_await qCoro(this, &FakeDictationRecognizer::released);
        if (m_listening && !transcriptAtStop.isNull())
            publishTranscript(transcriptAtStop);
        setListening(false);
    }
    SupportedLanguage language() const override { return chosenLanguage; }
    void setLanguage(SupportedLanguage chosen) override
    {
        calls << "language:" + chosen.rawValue();
        chosenLanguage = chosen;
        emit selectedLanguageChanged(chosen);
        if (m_listening) { // restarts, as the real one does
            setListening(false);
            QTimer::singleShot(10, this, [this] { setListening(true); });
        }
    }
    Q_INVOKABLE void togglePreferredProvider()
    {
        preferred = preferred == STTProvider::onDevice ? STTProvider::server : STTProvider::onDevice;
        emit preferredProviderChanged(preferred);
    }

    void release() { emit released(); }
    // Utterance 0 of the current recording, unless told otherwise.
    void publishTranscript(const QString &text, quint64 utterance = 0)
    {
        m_text = text;
        emit transcript(TranscriptEvent { recording, utterance, text, false });
    }
    void publishFor(quint64 otherRecording, const QString &text)
    {
        emit transcript(TranscriptEvent { otherRecording, 0, text, false });
    }
    // Every call publishes, as the recognizer does for each failure it meets.
    void publishError(const QString &message) { emit errorMessageChanged(m_error = message); }
    void setListening(bool listening)
    {
        if (m_listening != listening)
            emit isListeningChanged(m_listening = listening);
    }

signals:
    void released();
    void preferredProviderChanged(STTProviders::STTProvider value);
    void selectedLanguageChanged(SupportedLanguage value);

private:
    QString m_text;
    QString m_error;
    bool m_listening = false;
};
