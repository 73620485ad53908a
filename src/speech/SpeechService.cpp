#include "speech/SpeechService.h"

#include "common/Log.h"
#include "common/Settings.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>
#include <QUrlQuery>

#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcorotimer.h>

// What became of one upload, kept until every earlier upload has been applied.
struct SpeechService::Outcome {
    enum class Kind { pending, invalidURL, transportError, cancelled, notHTTP, http };

    qint64 sequence = 0;
    Kind kind = Kind::pending;
    QString transportError;
    int status = 0;
    QByteArray body;
};

SpeechService::SpeechService(QObject *parent) : SpeechService(std::nullopt, defaultRequestTimeout, parent) { }

SpeechService::SpeechService(std::optional<QString> serverBaseURL, std::chrono::milliseconds requestTimeout,
                             QObject *parent)
    : QObject(parent),
      m_serverBaseURL(serverBaseURL.value_or(
          Settings::stringValue(QStringLiteral("serverBaseURL")).value_or(defaultServerBaseURL()))),
      m_requestTimeout(requestTimeout),
      m_network(new QNetworkAccessManager(this))
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
    logLine(QStringLiteral("🌐 [Speech] Language set to: %1")
                .arg(code.isNull() ? QStringLiteral("auto-detect") : code));
}

QCoro::Task<> SpeechService::startStreaming()
{
    if (m_isStreaming) {
        logLine(QStringLiteral("🌐 [Speech] Already streaming, skipping"));
        co_return;
    }
    logLine(QStringLiteral("🌐 [Speech] Starting streaming to %1").arg(m_serverBaseURL));
    setIsStreaming(true);
    setIsConnected(true);
    m_audioBuffer.clear();
    startSendLoop();
    co_return;
}

QCoro::Task<> SpeechService::stopStreaming()
{
    if (!m_isStreaming) {
        logLine(QStringLiteral("🌐 [Speech] Not streaming, nothing to stop"));
        co_return;
    }
    logLine(QStringLiteral("🌐 [Speech] Stopping streaming..."));
    QPointer<SpeechService> self(this);
    // The last words are usually shorter than a whole upload: pad them rather
    // than drop them.
    co_await sendBufferedAudio(true);
    if (!self || m_destroying)
        co_return;

    setIsStreaming(false);
    setIsConnected(false);
    m_audioBuffer.clear();
    logLine(QStringLiteral("✅ [Speech] Streaming stopped"));
    stopSendLoop();
}

void SpeechService::startSendLoop()
{
    ++m_loopGeneration;
    logLine(QStringLiteral("🌐 [Speech] Send task started (interval: %1s)")
                .arg(double(m_bufferInterval.count()) / 1000.0, 0, 'f', 1));
    m_loopTimer.start(m_bufferInterval);
}

void SpeechService::stopSendLoop()
{
    // An upload of the loop still in flight ends the loop when it is done.
    const bool uploading = m_stepInFlight == m_loopGeneration;
    ++m_loopGeneration;
    m_loopTimer.stop();
    if (!uploading)
        logLine(QStringLiteral("🌐 [Speech] Send task ended"));
}

QCoro::Task<> SpeechService::sendLoopStep(quint64 generation)
{
    // One upload of the loop at a time; the next wait starts when it is done.
    m_stepInFlight = generation;
    QPointer<SpeechService> self(this);
    co_await sendBufferedAudio(false);
    if (!self || m_destroying)
        co_return;
    if (m_stepInFlight == generation)
        m_stepInFlight = 0;
    if (m_isStreaming && generation == m_loopGeneration)
        m_loopTimer.start(m_bufferInterval);
    else
        logLine(QStringLiteral("🌐 [Speech] Send task ended"));
}

QCoro::Task<> SpeechService::sendBufferedAudio(bool padRemainder)
{
    if (m_audioBuffer.isEmpty())
        co_return;
    if (m_audioBuffer.size() < minBufferSize) {
        if (!padRemainder)
            co_return;
        // Silence after the speech changes no word, and keeps every upload
        // long enough for the recognizer.
        m_audioBuffer.append(QByteArray(minBufferSize - m_audioBuffer.size(), '\0'));
    }
    QByteArray audio = std::exchange(m_audioBuffer, QByteArray());
    logLine(QStringLiteral("🌐 [Speech] Sending %1 bytes of audio...").arg(audio.size()));
    co_await sendAudio(std::move(audio));
}

QCoro::Task<> SpeechService::sendAudio(QByteArray audio)
{
    const QString language = m_selectedLanguage.isNull() ? QStringLiteral("auto") : m_selectedLanguage;
    logLine(QStringLiteral("🌐 [Speech] Using language: %1").arg(language));

    // Replies are applied in the order of the uploads, whatever order they
    // arrive in, so the running transcript keeps the order of the speech.
    auto slot = std::make_unique<Outcome>();
    Outcome *outcome = slot.get();
    outcome->sequence = m_nextSequence++;
    m_pending.push_back(std::move(slot));

    QUrl url(m_serverBaseURL + QStringLiteral("/api/speech"), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        outcome->kind = Outcome::Kind::invalidURL;
        applyReadyOutcomes();
        co_return;
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("sampleRate"), QStringLiteral("16000"));
    query.addQueryItem(QStringLiteral("languageCode"), language);
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);

    QPointer<SpeechService> self(this);
    QPointer<QNetworkReply> reply = m_network->post(request, audio);

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
        outcome->kind = Outcome::Kind::transportError;
        outcome->transportError = tr("The request timed out.");
    } else if (error == QNetworkReply::OperationCanceledError) {
        outcome->kind = Outcome::Kind::cancelled;
    } else if (transportFailed) {
        outcome->kind = Outcome::Kind::transportError;
        outcome->transportError = reply->errorString();
    } else if (!status.isValid()) {
        outcome->kind = Outcome::Kind::notHTTP;
    } else {
        outcome->kind = Outcome::Kind::http;
        outcome->status = status.toInt();
        outcome->body = reply->readAll();
    }
    reply->deleteLater();
    applyReadyOutcomes();
}

void SpeechService::applyReadyOutcomes()
{
    while (!m_pending.empty() && m_pending.front()->kind != Outcome::Kind::pending) {
        const std::unique_ptr<Outcome> outcome = std::move(m_pending.front());
        m_pending.pop_front();
        applyOutcome(*outcome);
        emit uploadFinished(outcome->sequence);
    }
}

void SpeechService::applyOutcome(const Outcome &outcome)
{
    QString failure;
    switch (outcome.kind) {
    case Outcome::Kind::pending:
    case Outcome::Kind::cancelled:
        return;
    case Outcome::Kind::invalidURL:
        failure = tr("Invalid server URL");
        break;
    case Outcome::Kind::transportError:
        failure = tr("Network error: %1").arg(outcome.transportError);
        break;
    case Outcome::Kind::notHTTP:
        failure = tr("Invalid response");
        break;
    case Outcome::Kind::http:
        if (outcome.status == 200) {
            handleResponse(outcome.body);
            return;
        }
        // Whatever a failed reply says about the transcript is not trusted.
        if (const auto response = TranscriptionResponse::decode(outcome.body))
            failure = response->error.value_or(tr("Server error"));
        else
            failure = tr("Server error: %1").arg(outcome.status);
        break;
    }
    logLine(QStringLiteral("❌ [Speech] Upload failed: %1").arg(failure));
    setErrorMessage(failure);
}

void SpeechService::handleResponse(const QByteArray &body)
{
    const std::optional<TranscriptionResponse> response = TranscriptionResponse::decode(body);
    if (!response) {
        logLine(QStringLiteral("❌ [Speech] Failed to parse response"));
        return;
    }
    logLine(QStringLiteral("📨 [Speech] Response type: %1, text: '%2'")
                .arg(response->type, response->text.value_or(QStringLiteral("nil"))));

    if (response->type == QLatin1String("transcript")) {
        if (!response->text || response->text->isEmpty()) {
            logLine(QStringLiteral("⚠️ [Speech] Transcript response but text is empty or nil"));
            return;
        }
        const QString &text = *response->text;
        logLine(QStringLiteral("📝 [Speech] GOT TRANSCRIPT: '%1'").arg(text));
        setTranscribedText(m_transcribedText.isEmpty() ? text : m_transcribedText + u' ' + text);
        logLine(QStringLiteral("📝 [Speech] Full transcription now: '%1'").arg(m_transcribedText));
    } else if (response->type == QLatin1String("error")) {
        const QString message = response->error.value_or(tr("Unknown error"));
        logLine(QStringLiteral("❌ [Speech] Server error: %1").arg(message));
        setErrorMessage(message);
    } else {
        logLine(QStringLiteral("⚠️ [Speech] Unknown response type: %1").arg(response->type));
    }
}
