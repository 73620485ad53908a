#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/KeyboardEventSink.h"

// One way of typing into other applications: the keys, and whether this
// process may send them.
class TypingBackend : public KeyboardEventSink, public AccessibilityTrust
{
};
