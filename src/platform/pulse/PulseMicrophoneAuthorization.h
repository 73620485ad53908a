#pragma once

#include "platform/AudioEngine.h"
#include "platform/MicrophoneAuthorization.h"

// There is no permission store for the microphone on a Linux desktop: access
// is granted exactly when the default input source exists and can be opened.
// Every question opens it briefly, off the main thread, since the sound server
// may take a moment to answer.
class PulseMicrophoneAuthorization : public MicrophoneAuthorization
{
public:
    explicit PulseMicrophoneAuthorization(AudioEngineFactory engineFactory);

    QCoro::Task<MicrophoneAuthorizationStatus> authorizationStatus() override;
    QCoro::Task<bool> requestAccess() override;

    // The probe itself, blocking (for callers already off the main thread).
    static MicrophoneAuthorizationStatus probe(const AudioEngineFactory &engineFactory);

private:
    AudioEngineFactory m_engineFactory;
};
