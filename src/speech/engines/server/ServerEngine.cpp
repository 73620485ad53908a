#include "speech/engines/server/ServerEngine.h"

#include "common/Log.h"
#include "speech/SpeechService.h"
#include "speech/SupportedLanguage.h"

#include <QCoreApplication>

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
    // The client lives on the main thread; the chunks keep their order there.
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [service = m_service, pcm] {
            if (service)
                service->audioBuffer().append(pcm);
        },
        Qt::QueuedConnection);
}

QCoro::Task<> ServerSession::finish()
{
    if (!m_started || m_finished || !m_service)
        co_return;
    m_finished = true;
    co_await m_service->stopStreaming();
}
