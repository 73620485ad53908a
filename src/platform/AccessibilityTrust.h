#pragma once

// Whether this process may send input to other applications.
class AccessibilityTrust
{
public:
    virtual ~AccessibilityTrust() = default;

    virtual bool isTrusted() const = 0;
    // The asking variant: where a platform can prompt the user, it does, and
    // answers the state after that.
    virtual bool requestTrust() = 0;
};
