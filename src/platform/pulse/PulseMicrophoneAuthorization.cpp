#include "platform/pulse/PulseMicrophoneAuthorization.h"

#include "platform/pulse/PulseAudioEngine.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <qcoro/qcorofuture.h>

PulseMicrophoneAuthorization::PulseMicrophoneAuthorization(AudioEngineFactory engineFactory)
    : m_engineFactory(std::move(engineFactory))
{
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorization::probe(const AudioEngineFactory &engineFactory)
{
    std::unique_ptr<AudioEngine> engine = engineFactory ? engineFactory() : nullptr;
    if (!engine || !engine->hasInputNode() || !(engine->inputFormat().sampleRate > 0))
        return MicrophoneAuthorizationStatus::denied;
    if (engine->start())
        return MicrophoneAuthorizationStatus::denied;
    engine->stop();
    return MicrophoneAuthorizationStatus::authorized;
}

QCoro::Task<MicrophoneAuthorizationStatus> PulseMicrophoneAuthorization::authorizationStatus()
{
    auto promise = std::make_shared<QPromise<MicrophoneAuthorizationStatus>>();
    QFuture<MicrophoneAuthorizationStatus> answer = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, factory = m_engineFactory] {
        promise->addResult(probe(factory));
        promise->finish();
    });
    co_return co_await answer;
}

QCoro::Task<bool> PulseMicrophoneAuthorization::requestAccess()
{
    co_return co_await authorizationStatus() == MicrophoneAuthorizationStatus::authorized;
}
