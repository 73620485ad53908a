#include "speech/AudioRecordingService.h"

#include "platform/AlertPresenter.h"
#include "platform/Workspace.h"
#include "speech/PcmConverter.h"

class CaptureExecutor
{
};

struct AudioRecordingService::Capture {
};

AudioRecordingService::AudioRecordingService(AudioEngineFactory engineFactory, AlertPresenter &alerts,
                                             Workspace &workspace, QObject *parent)
    : QObject(parent), m_engineFactory(std::move(engineFactory)), m_alerts(alerts), m_workspace(workspace)
{
}

AudioRecordingService::~AudioRecordingService() = default;

QCoro::Task<std::optional<AudioError>> AudioRecordingService::startRecording(Callback)
{
    co_return AudioError(AudioError::Code::engineInitializationFailed);
}

QCoro::Task<> AudioRecordingService::stopRecording()
{
    co_return;
}

QCoro::Task<> AudioRecordingService::showMicrophonePermissionAlert()
{
    co_return;
}

void AudioRecordingService::processAudioBuffer(const std::shared_ptr<Capture> &, const AudioBuffer &)
{
}
