#pragma once

#include "speech/TranscriptEvent.h"
#include "speech/TranscriptionResponse.h"
#include "speech/UploadSegmenter.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

// The server recognition path. Collects the PCM bytes the recognition manager
// appends to `audioBuffer()` and uploads them in pieces, each a self-contained
// POST to tellwind-server's "/api/speech"; the transcript pieces of the replies
// are joined, in upload order, into the stream's text.
//
// The server decodes every piece on its own, so a piece ends at the first
// pause after the buffer interval (UploadSegmenter), not at a fixed length:
// cutting every three seconds split words, and on read speech raised the word
// errors by more than half over decoding the whole stream; cutting at pauses
// adds none (bench/uploads).
//
// What the replies of one stream say, told to whoever started that stream
// alone: they may still come in while the next stream runs.
class SpeechStreamEvents : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    // The stream's whole text after each reply that added to it.
    void transcript(const QString &text);
    void failed(const QString &message);
};

// Each stream belongs to one recording: its replies are applied only to it,
// its stop waits for them, and a reply that comes after its stop is dropped.
class SpeechService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString transcribedText READ transcribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isStreaming READ isStreaming NOTIFY isStreamingChanged)
    Q_PROPERTY(QString selectedLanguage READ selectedLanguage NOTIFY selectedLanguageChanged)

public:
    static constexpr qsizetype minBufferSize = UploadSegmenter::bytes(UploadSegmenter::Bounds {}.minimum);
    static constexpr std::chrono::milliseconds defaultBufferInterval { 3000 };
    // How often the buffer is looked at for a pause: how late a cut can be.
    static constexpr std::chrono::milliseconds pollInterval { 100 };
    static constexpr std::chrono::milliseconds defaultRequestTimeout { 15000 };
    // A failed upload is tried again after these pauses before its audio is
    // given up: long enough for a restarting server or a proxy to fail over.
    static constexpr std::chrono::milliseconds firstRetryDelay { 1000 };
    static constexpr std::chrono::milliseconds secondRetryDelay { 3000 };
    static QString defaultServerBaseURL() { return QStringLiteral("http://127.0.0.1:8750"); }

    // The base URL comes from the setting "serverBaseURL" unless one is given.
    explicit SpeechService(QObject *parent = nullptr);
    explicit SpeechService(std::optional<QString> serverBaseURL,
        std::chrono::milliseconds requestTimeout = defaultRequestTimeout, QObject *parent = nullptr);
    ~SpeechService() override;

    // The running text of the current (or last) stream.
    QString transcribedText() const { return m_transcribedText; }
    QString errorMessage() const { return m_errorMessage; } // null when none
    bool isConnected() const { return m_isConnected; }
    bool isStreaming() const { return m_isStreaming; }
    QString selectedLanguage() const { return m_selectedLanguage; } // null: automatic
    QString serverBaseURL() const { return m_serverBaseURL; }
    void setServerBaseURL(const QString &url) { m_serverBaseURL = url; }
    // The session token sent with each upload while the user is signed in;
    // a server may take speech only from signed-in users.
    void setSessionTokenSource(std::function<std::optional<QString>()> source)
    {
        m_sessionToken = std::move(source);
    }

    // PCM bytes received and not yet uploaded; the manager appends to it.
    QByteArray &audioBuffer() { return m_audioBuffer; }

    void setLanguage(const QString &code); // null or "auto": automatic
    // Starts a stream for `recording`, whose replies its events tell. A
    // stream still waiting for its last replies goes on beside it. Null while
    // another stream still takes audio.
    QCoro::Task<std::shared_ptr<SpeechStreamEvents>> startStreaming(quint64 recording = 0);
    // The events of the last stream started; null before the first.
    SpeechStreamEvents *streamEvents() const;
    // Uploads what is left and waits for the stream's replies (each bounded by
    // its timeout and retries); a new stream may start meanwhile.
    QCoro::Task<> stopStreaming();

    // How much audio an upload gathers before it ends at the next pause.
    std::chrono::milliseconds bufferInterval() const { return m_bufferInterval; }
    void setBufferInterval(std::chrono::milliseconds interval) { m_bufferInterval = interval; }
    void setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds second)
    {
        m_retryDelays = { first, second };
    }

Q_SIGNALS:
    void transcribedTextChanged(QString value);
    void errorMessageChanged(QString value);
    void isConnectedChanged(bool value);
    void isStreamingChanged(bool value);
    void selectedLanguageChanged(QString value);
    // The stream's whole text after each reply that added to it.
    void transcript(const TranscriptEvent &event);
    void recognitionError(const RecognitionError &error);
    // Every upload once its reply has been applied (tests and diagnostics).
    void uploadFinished(qint64 sequence);
    // Internal: an upload of some stream is done; a stream stop ended.
    void uploadSettled();
    void stopSettled();

private:
    struct Stream;
    struct Upload;

    void startSendLoop();
    void stopSendLoop();
    QCoro::Task<> sendLoopStep(quint64 generation);
    void takeBufferedAudio(Stream &stream);
    void sendRemainingAudio();
    std::shared_ptr<Upload> queueUpload(Stream &stream, UploadSegmenter::Segment segment);
    QCoro::Task<> upload(std::shared_ptr<Stream> stream, std::shared_ptr<Upload> slot);
    QCoro::Task<> attempt(std::shared_ptr<Upload> slot);
    void applyReadyOutcomes(const std::shared_ptr<Stream> &stream);
    void applyOutcome(Stream &stream, const Upload &upload);
    void handleResponse(Stream &stream, const Upload &upload);
    void report(Stream &stream, const QString &failure,
        std::chrono::milliseconds speechLost = std::chrono::milliseconds(0));

    void setTranscribedText(const QString &text);
    void setErrorMessage(const QString &message);
    void setIsConnected(bool value);
    void setIsStreaming(bool value);

    QString m_transcribedText;
    QString m_errorMessage;
    bool m_isConnected = false;
    bool m_isStreaming = false;
    QByteArray m_audioBuffer;
    qsizetype m_segmentedBytes = 0; // of m_audioBuffer, seen by the stream's segmenter
    QString m_serverBaseURL;
    std::function<std::optional<QString>()> m_sessionToken;
    bool m_serverBaseURLFromSettings = false; // read again at every start: the user may change it
    QString m_selectedLanguage;
    std::chrono::milliseconds m_bufferInterval = defaultBufferInterval;
    std::chrono::milliseconds m_requestTimeout = defaultRequestTimeout;
    std::array<std::chrono::milliseconds, 2> m_retryDelays { firstRetryDelay, secondRetryDelay };

    QNetworkAccessManager *m_network = nullptr;
    // The send loop: a wait on the timer, then an upload, then the next wait.
    QTimer m_loopTimer;
    quint64 m_loopGeneration = 0;
    bool m_destroying = false;

    std::shared_ptr<Stream> m_stream; // the stream being recorded or stopped
};
