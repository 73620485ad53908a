#pragma once

#include "app/DictationNeighbours.h"
#include "speech/STTProvider.h"
#include "speech/SupportedLanguage.h"

#include <QStringList>
#include <QTimer>

#include <qcoro/qcorosignal.h>

// A recognition manager that does what the test says. Starts and stops finish
// at once unless held; a held one waits for release(). It also carries the
// fields the panel reads, so it can stand in for the manager in the views.
class FakeDictationRecognizer : public DictationRecognizer
{
    Q_OBJECT
    Q_PROPERTY(STTProviders::STTProvider preferredProvider READ preferredProvider NOTIFY preferredProviderChanged)
    Q_PROPERTY(SupportedLanguage selectedLanguage READ selectedLanguage NOTIFY selectedLanguageChanged)

public:
    // What happened, in order: "start", "stop", "clear", "language:<code>".
    QStringList calls;
    bool startSucceeds = true;
    QString startError; // published when a start fails
    bool holdStart = false;
    bool holdStop = false;
    // Published just before a stop finishes, like a cloud reply to the last upload.
    QString transcriptAtStop;
    // A language change while listening stops at once and listens again this
    // much later, as the real manager's restart does (negative: never again).
    int restartDelayMs = 10;

    QString transcribedText() const override { return m_transcribedText; }
    QString errorMessage() const override { return m_errorMessage; }
    bool isListening() const override { return m_isListening; }
    STTProvider activeProvider() const override { return m_activeProvider; }
    STTProvider preferredProvider() const { return m_preferredProvider; }
    SupportedLanguage selectedLanguage() const { return m_selectedLanguage; }

    void clearTranscripts() override
    {
        calls << QStringLiteral("clear");
        publishTranscript(QString());
    }

    QCoro::Task<> startListening() override
    {
        calls << QStringLiteral("start");
        if (holdStart)
            co_await qCoro(this, &FakeDictationRecognizer::released);
        if (m_isListening)
            co_return;
        if (startSucceeds)
            setListening(true);
        else if (!startError.isNull())
            publishError(startError);
    }

    QCoro::Task<> stopListening() override
    {
        calls << QStringLiteral("stop");
        if (!m_isListening)
            co_return;
        if (holdStop)
            co_await qCoro(this, &FakeDictationRecognizer::released);
        if (!transcriptAtStop.isNull())
            publishTranscript(transcriptAtStop);
        setListening(false);
    }

    void setLanguage(SupportedLanguage language) override
    {
        calls << QStringLiteral("language:") + language.rawValue();
        const bool wasListening = m_isListening;
        if (!(m_selectedLanguage == language)) {
            m_selectedLanguage = language;
            emit selectedLanguageChanged(language);
        }
        if (wasListening) {
            setListening(false);
            if (restartDelayMs >= 0)
                QTimer::singleShot(restartDelayMs, this, [this] { setListening(true); });
        }
    }

    Q_INVOKABLE void togglePreferredProvider()
    {
        m_preferredProvider = m_preferredProvider == STTProvider::apple ? STTProvider::google
                                                                        : STTProvider::apple;
        emit preferredProviderChanged(m_preferredProvider);
    }

    void release() { emit released(); }
    void setActiveProvider(STTProvider provider) { m_activeProvider = provider; }

    void publishTranscript(const QString &text)
    {
        if (m_transcribedText == text)
            return;
        m_transcribedText = text;
        emit transcribedTextChanged(text);
    }
    void publishError(const QString &message)
    {
        m_errorMessage = message;
        emit errorMessageChanged(message);
    }
    void setListening(bool listening)
    {
        if (m_isListening == listening)
            return;
        m_isListening = listening;
        emit isListeningChanged(listening);
    }

signals:
    void released();
    void preferredProviderChanged(STTProviders::STTProvider value);
    void selectedLanguageChanged(SupportedLanguage value);

private:
    QString m_transcribedText;
    QString m_errorMessage;
    bool m_isListening = false;
    STTProvider m_activeProvider = STTProvider::apple;
    STTProvider m_preferredProvider = STTProvider::apple;
    SupportedLanguage m_selectedLanguage = SupportedLanguage::english_US;
};
