#pragma once

#include "speech/TranscriptionResponse.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// The cloud recognition path. Collects the PCM bytes the recognition manager
// appends to `audioBuffer()` and, every few seconds, uploads what has gathered
// as one self-contained POST to tellwind-server's "/api/speech"; the transcript
// pieces of the replies are joined, in upload order, into `transcribedText`.
class SpeechService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString transcribedText READ transcribedText WRITE setTranscribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isStreaming READ isStreaming NOTIFY isStreamingChanged)
    Q_PROPERTY(QString selectedLanguage READ selectedLanguage NOTIFY selectedLanguageChanged)

public:
    static constexpr qsizetype minBufferSize = 48000;
    static constexpr std::chrono::milliseconds defaultBufferInterval { 3000 };
    static constexpr std::chrono::milliseconds defaultRequestTimeout { 15000 };
    static QString defaultServerBaseURL() { return QStringLiteral("http://127.0.0.1:8750"); }

    // The base URL comes from the setting "serverBaseURL" unless one is given.
    explicit SpeechService(QObject *parent = nullptr);
    explicit SpeechService(std::optional<QString> serverBaseURL,
                           std::chrono::milliseconds requestTimeout = defaultRequestTimeout,
                           QObject *parent = nullptr);
    ~SpeechService() override;

    QString transcribedText() const { return m_transcribedText; }
    void setTranscribedText(const QString &text);
    QString errorMessage() const { return m_errorMessage; } // null when none
    bool isConnected() const { return m_isConnected; }
    bool isStreaming() const { return m_isStreaming; }
    QString selectedLanguage() const { return m_selectedLanguage; } // null: automatic
    QString serverBaseURL() const { return m_serverBaseURL; }

    // PCM bytes received and not yet uploaded; the manager appends to it.
    QByteArray &audioBuffer() { return m_audioBuffer; }

    void setLanguage(const QString &code); // null or "auto": automatic
    QCoro::Task<> startStreaming();
    QCoro::Task<> stopStreaming();

    std::chrono::milliseconds bufferInterval() const { return m_bufferInterval; }
    void setBufferInterval(std::chrono::milliseconds interval) { m_bufferInterval = interval; }

Q_SIGNALS:
    void transcribedTextChanged(QString value);
    void errorMessageChanged(QString value);
    void isConnectedChanged(bool value);
    void isStreamingChanged(bool value);
    void selectedLanguageChanged(QString value);
    // Every upload once its reply has been applied (tests and diagnostics).
    void uploadFinished(qint64 sequence);

private:
    struct Outcome;

    void startSendLoop();
    void stopSendLoop();
    QCoro::Task<> sendLoopStep(quint64 generation);
    QCoro::Task<> sendBufferedAudio(bool padRemainder);
    QCoro::Task<> sendAudio(QByteArray audio);
    void applyOutcome(const Outcome &outcome);
    void handleResponse(const QByteArray &body);
    void applyReadyOutcomes();

    void setErrorMessage(const QString &message);
    void setIsConnected(bool value);
    void setIsStreaming(bool value);

    QString m_transcribedText;
    QString m_errorMessage;
    bool m_isConnected = false;
    bool m_isStreaming = false;
    QByteArray m_audioBuffer;
    QString m_serverBaseURL;
    bool m_serverBaseURLFromSettings = false; // read again at every start: the user may change it
    QString m_selectedLanguage;
    std::chrono::milliseconds m_bufferInterval = defaultBufferInterval;
    std::chrono::milliseconds m_requestTimeout = defaultRequestTimeout;

    QNetworkAccessManager *m_network = nullptr;
    // The send loop: a wait on the timer, then an upload, then the next wait.
    QTimer m_loopTimer;
    quint64 m_loopGeneration = 0;
    quint64 m_stepInFlight = 0; // generation of the loop upload under way, 0: none
    bool m_destroying = false;

    // Replies wait here until every earlier upload has been applied.
    qint64 m_nextSequence = 0;
    qint64 m_nextToApply = 0;
    std::deque<std::unique_ptr<Outcome>> m_pending;
};
