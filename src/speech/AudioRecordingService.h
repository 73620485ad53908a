#pragma once

#include "platform/AudioEngine.h"
#include "speech/AudioError.h"

#include <QByteArray>
#include <QObject>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class AlertPresenter;
class Workspace;
class CaptureExecutor;
class PcmConverter;

// Captures the default microphone and hands it on, buffer by buffer, as 16 kHz
// mono signed 16-bit little-endian PCM. The engine's capture thread only
// queues each buffer; conversion and the consumer call happen one at a time,
// in capture order, on the service's own worker thread, so the consumer must
// be safe to call off the main thread. A new engine is made for every start.
class AudioRecordingService : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void(QByteArray)>;

    AudioRecordingService(AudioEngineFactory engineFactory, AlertPresenter &alerts, Workspace &workspace,
        QObject *parent = nullptr);
    ~AudioRecordingService() override;

    // Returns once capture runs (or at once when it already did), or the
    // reason it could not start.
    QCoro::Task<std::optional<AudioError>> startRecording(Callback callback);
    // Stops capture and hands the consumer the converter's last samples; no
    // chunk reaches the consumer once this has returned. Safe when idle.
    QCoro::Task<> stopRecording();

    bool isRecording() const { return m_isRecording.load(); }
    double sampleRate() const { return 16000.0; }
    quint32 channelCount() const { return 1; }
    // Buffers processed while a consumer was set, over the whole life of the service.
    qint64 bufferCount() const { return m_bufferCount.load(); }

signals:
    // The engine's news of a running capture, on the service's thread.
    void captureInterrupted(AudioEngine::Interruption what, const QString &reason);

private:
    struct Capture;
    struct StartOutcome {
        std::optional<AudioError> error;
        bool needsMicrophoneAlert = false;
    };

    // The part of a start that runs on the worker thread.
    StartOutcome beginCapture(Callback callback);
    QCoro::Task<> showMicrophonePermissionAlert();
    void processAudioBuffer(const std::shared_ptr<Capture> &capture, const AudioBuffer &buffer);

    AudioEngineFactory m_engineFactory;
    AlertPresenter &m_alerts;
    Workspace &m_workspace;
    std::unique_ptr<CaptureExecutor> m_executor;

    // Touched only on the worker thread (mirrored into the atomics for readers).
    std::unique_ptr<AudioEngine> m_audioEngine;
    std::shared_ptr<Capture> m_capture;
    // A stopped capture whose last buffers are still queued behind its stop;
    // a new capture may already run beside it.
    std::unique_ptr<AudioEngine> m_retiringEngine;
    std::shared_ptr<Capture> m_retiring;
    std::atomic<bool> m_isRecording { false };
    std::atomic<qint64> m_bufferCount { 0 };
};
