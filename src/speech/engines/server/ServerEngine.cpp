#include "speech/engines/server/ServerEngine.h"

#include "common/Log.h"
#include "speech/SpeechService.h"
#include "speech/SupportedLanguage.h"

SpeechEngine serverEngine(SpeechService &service)
{
    SpeechEngine engine;
    engine.id = QStringLiteral("Server");
    engine.remote = true;
    engine.languages = [] {
        QStringList codes;
        for (const SupportedLanguage &language : SupportedLanguage::allCases())
            codes << language.rawValue();
        return codes;
    };
    engine.available = [](const QString &) { return true; };
    engine.create = [service = QPointer<SpeechService>(&service)](const QString &language) {
        return service ? makeEngineSession<ServerSession>(*service, language) : nullptr;
    };
    return engine;
}

ServerSession::ServerSession(SpeechService &service, QString language)
    : m_service(&service)
    , m_language(std::move(language))
{
}

QCoro::Task<std::optional<EngineError>> ServerSession::start(quint64 recording, quint64 firstUtterance)
{
    m_recording = recording;
    m_utterance = firstUtterance;
    qCInfo(lcApp).noquote() << QStringLiteral("☁️ [Server STT] Starting cloud fallback for language: ")
            + m_language;
    if (!m_service)
        co_return EngineError { EngineErrorKind::unavailable, QStringLiteral("The server client is gone") };
    m_service->setLanguage(m_language);
    m_started = true;
    QPointer<ServerSession> self(this);
    std::shared_ptr<SpeechStreamEvents> stream = co_await m_service->startStreaming(recording);
    if (!self)
        co_return std::nullopt;
    // Only this stream's replies: a stream is one utterance, and its text
    // only grows (each reply adds words the server never revises), so what
    // it holds is final and a line break in it may be typed.
    m_stream = std::move(stream);
    if (m_stream) {
        connect(m_stream.get(), &SpeechStreamEvents::transcript, this, [this](const QString &text) {
            emit transcript(TranscriptEvent { m_recording, m_utterance, text, true });
        });
        connect(m_stream.get(), &SpeechStreamEvents::failed, this, [this](const QString &message) {
            emit error(EngineError { EngineErrorKind::passing, message });
        });
    }
    qCInfo(lcApp).noquote() << QStringLiteral("✅ [Server STT] Started with language: ") + m_language;
    co_return std::nullopt;
}

void ServerSession::feed(const QByteArray &pcm)
{
    {
        std::lock_guard lock(m_fedMutex);
        m_fed.append(pcm);
        if (std::exchange(m_deliveryQueued, true))
            return;
    }
    // The capture holds this session while it feeds it, so it is alive here.
    QMetaObject::invokeMethod(this, &ServerSession::deliverFedAudio, Qt::QueuedConnection);
}

void ServerSession::deliverFedAudio()
{
    QByteArray pcm;
    {
        std::lock_guard lock(m_fedMutex);
        m_deliveryQueued = false;
        // Audio fed before the stream began waits for it: the stream's start
        // clears the client's buffer.
        if (!m_stream || m_finished)
            return;
        pcm = std::exchange(m_fed, QByteArray());
    }
    if (m_service && !pcm.isEmpty())
        m_service->audioBuffer().append(pcm);
}

QCoro::Task<> ServerSession::finish()
{
    if (!m_started || m_finished || !m_service)
        co_return;
    deliverFedAudio();
    m_finished = true;
    co_await m_service->stopStreaming();
}
