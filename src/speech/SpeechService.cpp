#include "speech/SpeechService.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Settings.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcorotimer.h>

#include <deque>

// One upload: its audio is kept until the upload is settled, so that a failed
// attempt can be made again.
struct SpeechService::Upload {
    enum class Kind { pending, invalidURL, transportError, cancelled, notHTTP, http };

    qint64 sequence = 0;
    QByteArray audio;
    std::chrono::milliseconds speech { 0 };
    Kind kind = Kind::pending;
    bool settled = false;
    int attempts = 0;
    QString transportError;
    int status = 0;
    QByteArray body;

    // Failures that say the server is (for now) out of reach, not that it
    // refused this audio: a restart, a stall, a proxy with no backend.
    bool isPassingFailure() const
    {
        if (kind == Kind::transportError)
            return true;
        if (kind != Kind::http)
            return false;
        // 500 and 502 too: a decoder or an upstream that failed once may not
        // fail on the same audio again, and the words are lost otherwise.
        return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
    }
};

// The uploads of one recording, applied in the order they were made.
struct SpeechService::Stream {
    explicit Stream(UploadSegmenter::Bounds bounds)
        : segmenter(bounds)
    {
    }

    quint64 recording = 0;
    const std::shared_ptr<SpeechStreamEvents> events = std::make_shared<SpeechStreamEvents>();
    UploadSegmenter segmenter;
    // Cut, and waiting for the upload before them.
    std::deque<UploadSegmenter::Segment> cut;
    std::deque<std::shared_ptr<Upload>> pending;
    qint64 nextSequence = 0;
    int inFlight = 0;
    QString text;
    // After its stop: whatever still arrives belongs to nobody.
    bool closed = false;
    // Each failure is told once per recording: the same server error on
    // every upload is one problem, not one per upload.
    QSet<QString> toldFailures;
    QSet<QString> toldLosses;
    std::chrono::milliseconds speechLost { 0 };
};

SpeechService::SpeechService(QObject *parent)
    : SpeechService(std::nullopt, defaultRequestTimeout, parent)
{
}

SpeechService::SpeechService(
    std::optional<QString> serverBaseURL, std::chrono::milliseconds requestTimeout, QObject *parent)
    : QObject(parent)
    , m_serverBaseURL(serverBaseURL.value_or(
          Settings::stringValue(QStringLiteral("serverBaseURL")).value_or(defaultServerBaseURL())))
    , m_serverBaseURLFromSettings(!serverBaseURL)
    , m_requestTimeout(requestTimeout)
    , m_network(new QNetworkAccessManager(this))
{
    // Uploads go to our own backend, which never redirects, and a proxy
    // meant for browsing must not see the user's voice.
    m_network->setProxy(QNetworkProxy::NoProxy);

    // Coarse timers may fire early; the pacing of uploads is what the server sees.
    m_loopTimer.setSingleShot(true);
    m_loopTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_loopTimer, &QTimer::timeout, this, [this] { sendLoopStep(m_loopGeneration); });
}

SpeechService::~SpeechService()
{
    // Uploads still waiting for their reply end here, so that no coroutine
    // is left suspended on a reply that will never come.
    m_destroying = true;
    ++m_loopGeneration;
    m_loopTimer.stop();
    if (m_stream)
        m_stream->closed = true;
    for (QNetworkReply *reply : m_network->findChildren<QNetworkReply *>())
        reply->abort();
}

void SpeechService::setTranscribedText(const QString &text)
{
    if (text == m_transcribedText)
        return;
    m_transcribedText = text;
    emit transcribedTextChanged(text);
}

void SpeechService::setErrorMessage(const QString &message)
{
    if (message == m_errorMessage && message.isNull() == m_errorMessage.isNull())
        return;
    m_errorMessage = message;
    emit errorMessageChanged(message);
}

void SpeechService::setIsConnected(bool value)
{
    if (value == m_isConnected)
        return;
    m_isConnected = value;
    emit isConnectedChanged(value);
}

void SpeechService::setIsStreaming(bool value)
{
    if (value == m_isStreaming)
        return;
    m_isStreaming = value;
    emit isStreamingChanged(value);
}

void SpeechService::setLanguage(const QString &code)
{
    const bool automatic = code.isNull() || code == QLatin1String("auto");
    const QString selected = automatic ? QString() : code;
    if (selected != m_selectedLanguage || selected.isNull() != m_selectedLanguage.isNull()) {
        m_selectedLanguage = selected;
        emit selectedLanguageChanged(selected);
    }
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Language set to: %1")
                                      .arg(code.isNull() ? QStringLiteral("auto-detect") : code);
}

QCoro::Task<std::shared_ptr<SpeechStreamEvents>> SpeechService::startStreaming(quint64 recording)
{
    // A stream still collecting its replies goes on beside the new one: its
    // audio is all uploaded, and its replies go to it alone.
    if (m_isStreaming) {
        qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Already streaming, skipping");
        co_return std::shared_ptr<SpeechStreamEvents>();
    }
    if (m_serverBaseURLFromSettings)
        m_serverBaseURL
            = Settings::stringValue(QStringLiteral("serverBaseURL")).value_or(defaultServerBaseURL());
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Starting streaming to %1").arg(m_serverBaseURL);
    UploadSegmenter::Bounds bounds;
    bounds.interval = m_bufferInterval;
    m_stream = std::make_shared<Stream>(bounds);
    m_stream->recording = recording;
    setTranscribedText(QString());
    setErrorMessage(QString());
    setIsStreaming(true);
    setIsConnected(true);
    m_audioBuffer.clear();
    m_segmentedBytes = 0;
    startSendLoop();
    co_return m_stream->events;
}

SpeechStreamEvents *SpeechService::streamEvents() const
{
    return m_stream ? m_stream->events.get() : nullptr;
}

QCoro::Task<> SpeechService::stopStreaming()
{
    QPointer<SpeechService> self(this);
    if (!m_isStreaming || !m_stream) {
        qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Not streaming, nothing to stop");
        co_return;
    }
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Stopping streaming...");
    const std::shared_ptr<Stream> stream = m_stream;
    stopSendLoop();
    sendRemainingAudio();
    // From here on a new stream may start: this one only waits for replies.
    setIsStreaming(false);
    setIsConnected(false);
    m_audioBuffer.clear();
    m_segmentedBytes = 0;

    // Every upload ends by itself (its timeout, its retries); the deadline
    // only guards against a reply that never settles.
    const auto perUpload = m_requestTimeout * 3 + m_retryDelays[0] + m_retryDelays[1];
    QDeadlineTimer deadline(perUpload * 2);
    while (stream->inFlight > 0 && !deadline.hasExpired()) {
        co_await nextSignal(
            this, &SpeechService::uploadSettled, std::chrono::milliseconds(deadline.remainingTime()));
        if (!self || m_destroying)
            co_return;
    }
    if (stream->inFlight > 0)
        qCWarning(lcSpeech).noquote() << QStringLiteral(
            "⚠️ [Speech] %1 upload(s) still unanswered at stop; their replies will be dropped")
                                             .arg(stream->inFlight);
    if (stream->speechLost.count() > 0)
        qCInfo(lcSpeech).noquote() << QStringLiteral("⚠️ [Speech] %1 s of speech lost in this recording")
                                          .arg(double(stream->speechLost.count()) / 1000.0, 0, 'f', 1);
    stream->closed = true;
    qCInfo(lcSpeech).noquote() << QStringLiteral("✅ [Speech] Streaming stopped");
    emit stopSettled();
}

void SpeechService::startSendLoop()
{
    ++m_loopGeneration;
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Send task started (interval: %1s)")
                                      .arg(double(m_bufferInterval.count()) / 1000.0, 0, 'f', 1);
    m_loopTimer.start(pollInterval);
}

void SpeechService::stopSendLoop()
{
    ++m_loopGeneration;
    m_loopTimer.stop();
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Send task ended");
}

QCoro::Task<> SpeechService::sendLoopStep(quint64 generation)
{
    const std::shared_ptr<Stream> stream = m_stream;
    if (stream)
        takeBufferedAudio(*stream);
    if (!stream || stream->cut.empty()) {
        if (m_isStreaming && generation == m_loopGeneration)
            m_loopTimer.start(pollInterval);
        co_return;
    }
    // One upload of the loop at a time: a slow server is not sent more
    // uploads than it answers, and what is cut meanwhile waits its turn.
    QPointer<SpeechService> self(this);
    const std::shared_ptr<Upload> slot = queueUpload(*stream, std::move(stream->cut.front()));
    stream->cut.pop_front();
    co_await upload(stream, slot);
    if (!self || m_destroying)
        co_return;
    if (m_isStreaming && generation == m_loopGeneration)
        m_loopTimer.start(pollInterval);
}

void SpeechService::takeBufferedAudio(Stream &stream)
{
    // The buffer keeps its bytes until they are cut off, so that it always
    // shows how much audio waits for an upload.
    m_segmentedBytes = std::min(m_segmentedBytes, m_audioBuffer.size());
    QList<UploadSegmenter::Segment> segments
        = stream.segmenter.append(QByteArrayView(m_audioBuffer).sliced(m_segmentedBytes));
    m_segmentedBytes = m_audioBuffer.size();
    for (UploadSegmenter::Segment &segment : segments) {
        m_audioBuffer.remove(0, segment.pcm.size());
        m_segmentedBytes -= segment.pcm.size();
        stream.cut.push_back(std::move(segment));
    }
}

void SpeechService::sendRemainingAudio()
{
    const std::shared_ptr<Stream> stream = m_stream;
    if (!stream)
        return;
    takeBufferedAudio(*stream);
    // The last words are usually shorter than a whole upload: the segmenter
    // pads them rather than drop them.
    if (std::optional<UploadSegmenter::Segment> last = stream->segmenter.finish())
        stream->cut.push_back(std::move(*last));
    m_audioBuffer.clear();
    m_segmentedBytes = 0;
    while (!stream->cut.empty()) {
        upload(stream, queueUpload(*stream, std::move(stream->cut.front())));
        stream->cut.pop_front();
    }
}

std::shared_ptr<SpeechService::Upload> SpeechService::queueUpload(
    Stream &stream, UploadSegmenter::Segment segment)
{
    auto slot = std::make_shared<Upload>();
    slot->audio = std::move(segment.pcm);
    slot->speech = segment.speech;
    slot->sequence = stream.nextSequence++;
    stream.pending.push_back(slot);
    qCInfo(lcSpeech).noquote()
        << QStringLiteral("🌐 [Speech] Sending %1 bytes of audio...").arg(slot->audio.size());
    return slot;
}

QCoro::Task<> SpeechService::upload(std::shared_ptr<Stream> stream, std::shared_ptr<Upload> slot)
{
    QPointer<SpeechService> self(this);
    ++stream->inFlight;
    for (;;) {
        co_await attempt(slot);
        if (!self || m_destroying)
            co_return;
        const int retry = slot->attempts - 1;
        if (!slot->isPassingFailure() || stream->closed || retry >= int(m_retryDelays.size()))
            break;
        qCInfo(lcSpeech).noquote() << QStringLiteral(
            "🔁 [Speech] Upload %1 failed (%2), trying again in %3 ms")
                                          .arg(slot->sequence)
                                          .arg(slot->kind == Upload::Kind::http
                                                  ? QString::number(slot->status)
                                                  : slot->transportError)
                                          .arg(m_retryDelays[size_t(retry)].count());
        co_await QCoro::sleepFor(m_retryDelays[size_t(retry)]);
        if (!self || m_destroying)
            co_return;
        slot->kind = Upload::Kind::pending;
    }
    slot->settled = true;
    --stream->inFlight;
    applyReadyOutcomes(stream);
    emit uploadSettled();
}

QCoro::Task<> SpeechService::attempt(std::shared_ptr<Upload> slot)
{
    ++slot->attempts;
    const QString language = m_selectedLanguage.isNull() ? QStringLiteral("auto") : m_selectedLanguage;
    qCInfo(lcSpeech).noquote() << QStringLiteral("🌐 [Speech] Using language: %1").arg(language);

    QUrl url(m_serverBaseURL + QStringLiteral("/api/speech"), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        slot->kind = Upload::Kind::invalidURL;
        co_return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("sampleRate"), QStringLiteral("16000"));
    query.addQueryItem(QStringLiteral("languageCode"), language);
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (m_sessionToken) {
        if (const auto token = m_sessionToken(); token && !token->isEmpty())
            request.setRawHeader(QByteArrayLiteral("Authorization"), "Bearer " + token->toLatin1());
    }

    QPointer<SpeechService> self(this);
    QPointer<QNetworkReply> reply = m_network->post(request, slot->audio);

    // The wait is for silence on the connection, not for the whole exchange:
    // a slow but moving upload is not cut off.
    auto timedOut = std::make_shared<bool>(false);
    auto *timeout = new QTimer(reply);
    timeout->setSingleShot(true);
    timeout->setTimerType(Qt::PreciseTimer);
    const auto restart = [timeout, this] { timeout->start(m_requestTimeout); };
    connect(timeout, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    connect(reply, &QNetworkReply::uploadProgress, timeout, restart);
    connect(reply, &QNetworkReply::downloadProgress, timeout, restart);
    restart();

    co_await reply.get();
    if (!self || !reply || m_destroying)
        co_return;
    timeout->stop();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    const bool transportFailed = error != QNetworkReply::NoError
        && (error < QNetworkReply::ContentAccessDenied || !status.isValid());
    if (*timedOut) {
        slot->kind = Upload::Kind::transportError;
        slot->transportError = tr("The request timed out.");
    } else if (error == QNetworkReply::OperationCanceledError) {
        slot->kind = Upload::Kind::cancelled;
    } else if (transportFailed) {
        slot->kind = Upload::Kind::transportError;
        slot->transportError = reply->errorString();
    } else if (!status.isValid()) {
        slot->kind = Upload::Kind::notHTTP;
    } else {
        slot->kind = Upload::Kind::http;
        slot->status = status.toInt();
        slot->body = reply->readAll();
    }
    reply->deleteLater();
}

void SpeechService::applyReadyOutcomes(const std::shared_ptr<Stream> &stream)
{
    while (!stream->pending.empty() && stream->pending.front()->settled) {
        const std::shared_ptr<Upload> upload = std::move(stream->pending.front());
        stream->pending.pop_front();
        if (stream->closed)
            qCInfo(lcSpeech).noquote() << QStringLiteral(
                "🗑️ [Speech] Reply to upload %1 came after its recording stopped; dropped")
                                              .arg(upload->sequence);
        else
            applyOutcome(*stream, *upload);
        emit uploadFinished(upload->sequence);
    }
}

void SpeechService::applyOutcome(Stream &stream, const Upload &upload)
{
    QString failure;
    switch (upload.kind) {
    case Upload::Kind::pending:
    case Upload::Kind::cancelled:
        return;
    case Upload::Kind::invalidURL:
        failure = tr("Invalid server URL");
        break;
    case Upload::Kind::transportError:
        failure = tr("Network error: %1").arg(upload.transportError);
        break;
    case Upload::Kind::notHTTP:
        failure = tr("Invalid response");
        break;
    case Upload::Kind::http:
        if (upload.status == 200) {
            handleResponse(stream, upload);
            return;
        }
        if (upload.status == 401) {
            failure = tr("This server recognizes speech only for signed-in users. Sign in to Tellwind "
                         "and try again.");
            break;
        }
        // Whatever a failed reply says about the transcript is not trusted.
        if (const auto response = TranscriptionResponse::decode(upload.body))
            failure = response->error.value_or(tr("Server error"));
        else
            failure = tr("Server error: %1").arg(upload.status);
        break;
    }
    qCWarning(lcSpeech).noquote() << QStringLiteral("❌ [Speech] Upload failed: %1").arg(failure);
    report(stream, failure, upload.speech);
}

void SpeechService::report(Stream &stream, const QString &failure, std::chrono::milliseconds speechLost)
{
    // Silence that could not be recognized is no loss; words are, and the
    // user needs to know that they will not be typed. A failure is told once
    // per recording, and once more if it was first told on silence alone.
    stream.speechLost += speechLost;
    const bool lost = speechLost.count() > 0;
    if (stream.toldLosses.contains(failure) || (!lost && stream.toldFailures.contains(failure)))
        return;
    stream.toldFailures.insert(failure);
    if (lost)
        stream.toldLosses.insert(failure);
    const QString message = lost
        ? tr("%1 (%2 s of speech was lost)").arg(failure).arg(double(speechLost.count()) / 1000.0, 0, 'f', 1)
        : failure;
    if (m_stream.get() == &stream)
        setErrorMessage(message);
    emit stream.events->failed(message);
    emit recognitionError(RecognitionError { stream.recording, message });
}

void SpeechService::handleResponse(Stream &stream, const Upload &upload)
{
    const std::optional<TranscriptionResponse> response = TranscriptionResponse::decode(upload.body);
    if (!response) {
        qCWarning(lcSpeech).noquote() << QStringLiteral("❌ [Speech] Failed to parse response");
        return;
    }
    qCInfo(lcSpeech).noquote() << QStringLiteral("📨 [Speech] Response type: %1").arg(response->type);

    if (response->type == QLatin1String("transcript")) {
        if (!response->text || response->text->isEmpty()) {
            qCWarning(lcSpeech).noquote()
                << QStringLiteral("⚠️ [Speech] Transcript response but text is empty or nil");
            return;
        }
        const QString &text = *response->text;
        qCDebug(lcSpeech).noquote() << QStringLiteral("📝 [Speech] GOT TRANSCRIPT: '%1'").arg(text);
        stream.text = stream.text.isEmpty() ? text : stream.text + u' ' + text;
        qCDebug(lcSpeech).noquote()
            << QStringLiteral("📝 [Speech] Full transcription now: '%1'").arg(stream.text);
        if (m_stream.get() == &stream)
            setTranscribedText(stream.text);
        emit stream.events->transcript(stream.text);
        emit transcript(TranscriptEvent { stream.recording, 0, stream.text, false });
    } else if (response->type == QLatin1String("error")) {
        const QString message = response->error.value_or(tr("Unknown error"));
        qCWarning(lcSpeech).noquote() << QStringLiteral("❌ [Speech] Server error: %1").arg(message);
        report(stream, message, upload.speech);
    } else {
        qCWarning(lcSpeech).noquote()
            << QStringLiteral("⚠️ [Speech] Unknown response type: %1").arg(response->type);
    }
}
