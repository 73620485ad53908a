#pragma once

#include <qcoro/qcorotask.h>

enum class MicrophoneAuthorizationStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// Whether the program may record from the microphone. Asking may mean talking
// to the sound server, so both operations are asynchronous.
class MicrophoneAuthorization
{
public:
    virtual ~MicrophoneAuthorization() = default;

    virtual QCoro::Task<MicrophoneAuthorizationStatus> authorizationStatus() = 0;
    // The prompting variant: true when access is granted.
    virtual QCoro::Task<bool> requestAccess() = 0;
};
