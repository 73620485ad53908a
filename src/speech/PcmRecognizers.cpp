#include "speech/PcmRecognizers.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "speech/SpeechService.h"

#include <QCoreApplication>

OnDeviceRecognizer::OnDeviceRecognizer(
    SpeechRecognizerBackend &backend, std::shared_ptr<SpeechRecognizer> recognizer)
    : m_recognizer(std::move(recognizer))
    , m_request(backend.makeRequest())
{
}

OnDeviceRecognizer::~OnDeviceRecognizer()
{
    if (m_task)
        m_task->cancel();
}

QCoro::Task<std::optional<QString>> OnDeviceRecognizer::start(quint64 recording, quint64 firstUtterance)
{
    m_recording = recording;
    m_firstUtterance = firstUtterance;
    if (!m_request || !m_recognizer)
        co_return QStringLiteral("Unable to create recognition request");
    m_request->setShouldReportPartialResults(true);
    qCInfo(lcApp).noquote() << QStringLiteral("✅ [On-device STT] Using on-device recognition");
    // The recognizer reports on a thread of its own; a report that arrives
    // after this object is gone belongs to nobody.
    QPointer<OnDeviceRecognizer> self(this);
    m_task = m_recognizer->recognitionTask(m_request,
        [self](std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error) {
            QCoreApplication *application = QCoreApplication::instance();
            if (!application)
                return;
            QMetaObject::invokeMethod(
                application,
                [self, result = std::move(result), error = std::move(error)] {
                    if (self)
                        self->handle(result, error);
                },
                Qt::QueuedConnection);
        });
    co_return std::nullopt;
}

void OnDeviceRecognizer::feed(const QByteArray &pcm)
{
    if (m_request)
        m_request->append(pcm);
}

QCoro::Task<> OnDeviceRecognizer::finish()
{
    if (m_request)
        m_request->endAudio();
    if (!m_task)
        co_return;
    const bool running = !m_ended;
    m_task->cancel();
    if (!running)
        co_return;
    // Without this wait a start right after the stop would drop the last
    // words of the recording that just ended.
    co_await nextSignal(this, &OnDeviceRecognizer::ended, finishTimeout);
}

void OnDeviceRecognizer::handle(
    std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error)
{
    if (result) {
        qCDebug(lcSpeech).noquote() << QStringLiteral("📝 [On-device STT] %1: %2")
                                           .arg(result->isFinal ? QStringLiteral("Final")
                                                                : QStringLiteral("..."),
                                               result->formattedString);
        emit transcript(
            TranscriptEvent { m_recording, m_firstUtterance + quint64(std::max(0, result->utterance)),
                result->utteranceText, result->isFinal });
    }
    if (!error)
        return;

    const QString description = error->localizedDescription;
    const bool assistant = error->domain == SpeechRecognitionErrors::assistantDomain;
    if (assistant
        && (error->code == SpeechRecognitionErrors::canceled
            || error->code == SpeechRecognitionErrors::canceledByClient
            || error->code == SpeechRecognitionErrors::recognitionFailed)) {
        m_ended = true;
        emit ended();
    }
    if (!assistant) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [On-device STT] Error: ") + description;
        emit recognitionError(RecognitionError { m_recording, description });
        return;
    }
    switch (error->code) {
    case SpeechRecognitionErrors::canceled:
    case SpeechRecognitionErrors::canceledByClient:
        qCInfo(lcApp).noquote()
            << QStringLiteral("ℹ️ [On-device STT] Canceled (code: %1)").arg(error->code);
        break;
    case SpeechRecognitionErrors::recognitionFailed:
        qCWarning(lcApp).noquote() << QStringLiteral(
            "❌ [On-device STT] Recognition failed (code: 1107), falling back...");
        emit failed();
        break;
    case SpeechRecognitionErrors::noSpeechDetected:
        qCInfo(lcApp).noquote() << QStringLiteral(
            "ℹ️ [On-device STT] No speech detected yet - waiting...");
        break;
    default:
        qCWarning(lcApp).noquote()
            << QStringLiteral("❌ [On-device STT] Error: %1 (code: %2)").arg(description).arg(error->code);
        emit recognitionError(RecognitionError { m_recording, description });
        break;
    }
}

ServerRecognizer::ServerRecognizer(SpeechService &service, QString language)
    : m_service(&service)
    , m_language(std::move(language))
{
    // Replies of other recordings are the client's to drop; a stream is one
    // utterance. Its text only grows: each reply adds words the server will
    // never revise, so what it holds is final (a line break in it may be typed).
    connect(&service, &SpeechService::transcript, this, [this](const TranscriptEvent &event) {
        if (m_started && event.recording == m_recording)
            emit transcript(TranscriptEvent { m_recording, m_utterance, event.text, true });
    });
    connect(&service, &SpeechService::recognitionError, this, [this](const RecognitionError &error) {
        if (m_started && error.recording == m_recording)
            emit recognitionError(error);
    });
}

QCoro::Task<std::optional<QString>> ServerRecognizer::start(quint64 recording, quint64 firstUtterance)
{
    m_recording = recording;
    m_utterance = firstUtterance;
    qCInfo(lcApp).noquote() << QStringLiteral("☁️ [Server STT] Starting cloud fallback for language: ")
            + m_language;
    if (!m_service)
        co_return std::nullopt;
    m_service->setLanguage(m_language);
    m_started = true;
    QPointer<ServerRecognizer> self(this);
    co_await m_service->startStreaming(recording);
    if (self)
        qCInfo(lcApp).noquote() << QStringLiteral("✅ [Server STT] Started with language: ") + m_language;
    co_return std::nullopt;
}

void ServerRecognizer::feed(const QByteArray &pcm)
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

QCoro::Task<> ServerRecognizer::finish()
{
    if (!m_started || m_finished || !m_service)
        co_return;
    m_finished = true;
    co_await m_service->stopStreaming();
}
