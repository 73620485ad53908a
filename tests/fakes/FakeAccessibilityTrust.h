#pragma once

#include "platform/AccessibilityTrust.h"

class FakeAccessibilityTrust : public AccessibilityTrust
{
public:
    bool trusted = true;
    // What the prompting variant answers (as if the user granted it meanwhile).
    bool trustedAfterRequest = true;
    int requests = 0;

    bool isTrusted() const override { return trusted; }
    bool requestTrust() override
    {
        ++requests;
        trusted = trustedAfterRequest;
        return trusted;
    }
};
