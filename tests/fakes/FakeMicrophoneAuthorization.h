#pragma once

#include "platform/MicrophoneAuthorization.h"

// Answers with `status`; a request grants as `grantsOnRequest` says and settles it.
class FakeMicrophoneAuthorization : public MicrophoneAuthorization
{
public:
    MicrophoneAuthorizationStatus status = MicrophoneAuthorizationStatus::authorized;
    bool grantsOnRequest = true;
    int statusQueries = 0;

    QCoro::Task<MicrophoneAuthorizationStatus> authorizationStatus() override
    {
        ++statusQueries;
        co_return status;
    }

    QCoro::Task<bool> requestAccess() override
    {
        status = grantsOnRequest ? MicrophoneAuthorizationStatus::authorized
                                 : MicrophoneAuthorizationStatus::denied;
        co_return grantsOnRequest;
    }
};
