#include "speech/AudioRecordingService.h"

#include "common/Log.h"
#include "platform/AlertPresenter.h"
#include "platform/Workspace.h"
#include "speech/PcmConverter.h"

#include <QFuture>
#include <QLocale>
#include <QPointer>
#include <QPromise>
#include <QThread>

#include <qcoro/qcorofuture.h>

#include <charconv>
#include <cmath>

// The service's serial executor: one thread with an event loop. Jobs run in
// the order they were posted, whichever thread posted them, which is what
// keeps the chunks in capture order.
class CaptureExecutor
{
public:
    CaptureExecutor()
    {
        m_thread.setObjectName(QStringLiteral("AudioCapture"));
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }

    ~CaptureExecutor()
    {
        m_thread.quit();
        m_thread.wait();
    }

    void post(std::function<void()> job)
    {
        QMetaObject::invokeMethod(&m_context, std::move(job), Qt::QueuedConnection);
    }

    // Runs `job` on the executor; the future finishes when it has run (or is
    // cancelled when the executor goes away first).
    QFuture<void> run(std::function<void()> job)
    {
        auto promise = std::make_shared<QPromise<void>>();
        QFuture<void> future = promise->future();
        promise->start();
        post([promise, job = std::move(job)] {
            job();
            promise->finish();
        });
        return future;
    }

    // For the destructor: runs `job` on the executor and waits for it.
    void runAndWait(std::function<void()> job)
    {
        if (QThread::currentThread() == &m_thread) {
            job();
            return;
        }
        QMetaObject::invokeMethod(&m_context, std::move(job), Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
};

struct AudioRecordingService::Capture {
    Callback callback;
    AudioFormat nativeFormat;
    std::unique_ptr<PcmConverter> converter;
};

namespace
{

// Short buffers: the on-device decoder types as it hears, and each buffer is
// as late as it is long.
constexpr quint32 tapBufferFrames = 1024;
// A buffer's details are logged every few seconds, not for every buffer.
constexpr qint64 logEveryBuffers = 200;

// 48000.0, 44100.0, 22050.5: always at least one fractional digit.
QString decimal(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::abs(value) < 1e15)
        return QString::number(value, 'f', 1);
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// The shortest text that reads back as the same float (0.5, 0.0123, 1e-05).
QString shortestFloat(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    QString string = QString::fromLatin1(text, int(result.ptr - text));
    if (std::isfinite(value) && !string.contains(u'.') && !string.contains(u'e'))
        string += QStringLiteral(".0");
    return string;
}

float maxAmplitudeOfFirstChannel(const AudioBuffer &buffer)
{
    const quint32 channels = buffer.format.channelCount;
    if (channels == 0)
        return 0;
    const auto *samples = reinterpret_cast<const float *>(buffer.samples.constData());
    const qsizetype available = buffer.samples.size() / qsizetype(sizeof(float)) / channels;
    const qsizetype frames = std::min<qsizetype>(buffer.frameLength, available);
    float peak = 0;
    for (qsizetype frame = 0; frame < frames; ++frame)
        peak = std::max(peak, std::abs(samples[frame * channels]));
    return peak;
}

} // namespace

AudioRecordingService::AudioRecordingService(
    AudioEngineFactory engineFactory, AlertPresenter &alerts, Workspace &workspace, QObject *parent)
    : QObject(parent)
    , m_engineFactory(std::move(engineFactory))
    , m_alerts(alerts)
    , m_workspace(workspace)
    , m_executor(std::make_unique<CaptureExecutor>())
{
}

AudioRecordingService::~AudioRecordingService()
{
    // The engine's capture thread must be quiet before the executor it posts to goes away.
    m_executor->runAndWait([this] {
        if (m_audioEngine) {
            m_audioEngine->stop();
            m_audioEngine->removeTap();
        }
        m_audioEngine.reset();
        m_capture.reset();
        m_retiringEngine.reset();
        m_retiring.reset();
    });
    m_executor.reset();
}

QCoro::Task<std::optional<AudioError>> AudioRecordingService::startRecording(Callback callback)
{
    auto outcome = std::make_shared<StartOutcome>();
    QPointer<AudioRecordingService> self(this);
    // g++ 12 resumes at once when the awaited future is a temporary: keep it named.
    const QFuture<void> started = m_executor->run([this, outcome, consumer = std::move(callback)]() mutable {
        *outcome = beginCapture(std::move(consumer));
    });
    co_await started;
    if (!self)
        co_return AudioError(AudioError::Code::engineInitializationFailed);
    if (outcome->needsMicrophoneAlert) {
        co_await showMicrophonePermissionAlert();
        co_return AudioError(AudioError::Code::inputNodeNotAvailable);
    }
    co_return outcome->error;
}

AudioRecordingService::StartOutcome AudioRecordingService::beginCapture(Callback callback)
{
    StartOutcome outcome;
    if (m_isRecording) {
        qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Already recording, skipping");
        return outcome;
    }
    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Initializing audio engine...");
    auto capture = std::make_shared<Capture>();
    capture->callback = std::move(callback);
    m_capture = capture;

    m_audioEngine = m_engineFactory ? m_engineFactory() : nullptr;
    if (!m_audioEngine) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] Failed to create audio engine");
        outcome.error = AudioError(AudioError::Code::engineInitializationFailed);
        return outcome;
    }
    if (!m_audioEngine->hasInputNode()) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] Input node not available");
        outcome.error = AudioError(AudioError::Code::inputNodeNotAvailable);
        return outcome;
    }
    const AudioFormat native = m_audioEngine->inputFormat();
    capture->nativeFormat = native;
    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Native format: %1Hz, %2 channels")
                                   .arg(decimal(native.sampleRate))
                                   .arg(native.channelCount);
    if (!(native.sampleRate > 0)) {
        qCWarning(lcApp).noquote() << QStringLiteral(
            "❌ [Audio] Invalid audio format - microphone not accessible");
        outcome.needsMicrophoneAlert = true;
        return outcome;
    }
    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Target format: %1Hz, %2 channels")
                                   .arg(decimal(sampleRate()))
                                   .arg(channelCount());

    // Without a converter the consumer would get float samples at the
    // device rate where it expects 16 kHz integers, and upload noise.
    capture->converter = std::make_unique<PcmConverter>(native);
    if (!capture->converter->isValid()) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] Failed to create audio converter");
        outcome.error = AudioError(AudioError::Code::formatCreationFailed);
        return outcome;
    }

    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Installing tap on input node...");
    std::weak_ptr<Capture> weakCapture = capture;
    CaptureExecutor *executor = m_executor.get();
    m_audioEngine->installTap(tapBufferFrames, [this, executor, weakCapture](const AudioBuffer &buffer) {
        executor->post([this, weakCapture, buffer] {
            if (auto capture = weakCapture.lock())
                processAudioBuffer(capture, buffer);
        });
    });

    // Queued behind the buffers the executor still holds, so the consumer
    // has every chunk captured before the loss when the news arrives.
    QPointer<AudioRecordingService> self(this);
    m_audioEngine->setInterruptionHandler(
        [self, executor](AudioEngine::Interruption what, const QString &reason) {
            executor->post([self, what, reason] {
                if (self)
                    QMetaObject::invokeMethod(
                        self.data(),
                        [self, what, reason] {
                            if (self)
                                emit self->captureInterrupted(what, reason);
                        },
                        Qt::QueuedConnection);
            });
        });

    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Starting audio engine...");
    if (const std::optional<QString> startError = m_audioEngine->start()) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("❌ [Audio] Failed to start audio engine: %1").arg(*startError);
        m_audioEngine->removeTap();
        outcome.error = AudioError::engineStart(*startError);
        return outcome;
    }
    m_isRecording = true;
    qCInfo(lcApp).noquote() << QStringLiteral("✅ [Audio] Recording started successfully");
    return outcome;
}

QCoro::Task<> AudioRecordingService::stopRecording()
{
    QPointer<AudioRecordingService> self(this);
    auto wasRecording = std::make_shared<bool>(false);
    const QFuture<void> engineStopped = m_executor->run([this, wasRecording] {
        if (!m_isRecording) {
            qCInfo(lcSpeech).noquote() << QStringLiteral("🎙️ [Audio] Not recording, nothing to stop");
            return;
        }
        *wasRecording = true;
        qCInfo(lcSpeech).noquote() << QStringLiteral("🎙️ [Audio] Stopping recording...");
        // Stopping first lets the engine hand over its last, shorter buffer;
        // once the tap is gone nothing new is queued behind this job.
        if (m_audioEngine) {
            m_audioEngine->stop();
            m_audioEngine->removeTap();
        }
        // The capture is over from here on: a start queued behind this job
        // begins a new one instead of finding this one still running.
        m_retiringEngine = std::move(m_audioEngine);
        m_retiring = std::exchange(m_capture, nullptr);
        m_isRecording = false;
    });
    co_await engineStopped;
    if (!self || !*wasRecording)
        co_return;

    // Buffers captured before the engine stopped are still queued ahead of
    // this job; they are converted first, then the resampler's tail follows.
    const QFuture<void> drained = m_executor->run([this] {
        if (m_retiring && m_retiring->converter && m_retiring->callback) {
            const QByteArray tail = m_retiring->converter->flush();
            if (!tail.isEmpty())
                m_retiring->callback(tail);
        }
        m_retiringEngine.reset();
        m_retiring.reset();
        qCInfo(lcSpeech).noquote() << QStringLiteral("✅ [Audio] Recording stopped");
    });
    co_await drained;
}

void AudioRecordingService::processAudioBuffer(
    const std::shared_ptr<Capture> &capture, const AudioBuffer &buffer)
{
    // A buffer of an earlier capture, or one that arrives after a stop.
    if ((capture != m_capture && capture != m_retiring) || !capture->callback || !capture->converter)
        return;

    const qint64 count = ++m_bufferCount;
    const bool isLogBuffer = count % logEveryBuffers == 1;
    if (isLogBuffer) {
        qCInfo(lcApp).noquote() << QStringLiteral("🎙️ [Audio] Buffer #%1: %2 frames, max amplitude: %3")
                                       .arg(count)
                                       .arg(buffer.frameLength)
                                       .arg(shortestFloat(maxAmplitudeOfFirstChannel(buffer)));
    }

    const AudioFormat expected = capture->converter->inputFormat();
    if (buffer.format.sampleRate != expected.sampleRate
        || buffer.format.channelCount != expected.channelCount) {
        if (isLogBuffer)
            qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] Failed to convert buffer");
        return;
    }
    const QByteArray chunk = capture->converter->convert(buffer);
    // The resampler may keep a very short buffer to itself until more input arrives.
    if (chunk.isEmpty())
        return;

    if (isLogBuffer)
        qCInfo(lcApp).noquote()
            << QStringLiteral("🎙️ [Audio] Sending %1 bytes to callback").arg(chunk.size());
    capture->callback(chunk);
}

QCoro::Task<> AudioRecordingService::showMicrophonePermissionAlert()
{
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.title = tr("Microphone Access Required");
    alert.informativeText
        = tr("Tellwind needs microphone access to transcribe your speech.\n\nTo enable:\n1. Open the "
             "Sound settings\n2. Go to Input\n3. Choose a microphone and turn it on (not muted)\n\n"
             "If no microphone is listed, check that the sound server (PulseAudio or PipeWire) is running.");
    alert.buttons = { tr("Open Sound Settings"), tr("Cancel") };

    QPointer<AudioRecordingService> self(this);
    Workspace *workspace = &m_workspace;
    const int answer = co_await m_alerts.runModal(alert);
    if (answer == AlertPresenter::firstButton && self)
        workspace->openSettingsPane(Workspace::Pane::microphone);
}
