#pragma once

#include "platform/AccessibilityTrust.h"

// Asked for the permission, the user grants it.
class FakeAccessibilityTrust : public AccessibilityTrust
{
public:
    bool trusted = true;

    bool isTrusted() const override { return trusted; }
    bool requestTrust() override { return trusted = true; }
};
