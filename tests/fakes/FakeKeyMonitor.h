#pragma once

#include "platform/KeyMonitor.h"

// Key monitors as the X11 backend runs them (a global one only), where no key is ever pressed.
class FakeKeyMonitor : public KeyMonitor
{
public:
    std::optional<Handle> addGlobalMonitor(Handler) override { return m_next++; }
    std::optional<Handle> addLocalMonitor(Handler) override { return std::nullopt; }
    void removeMonitor(Handle) override { }

private:
    Handle m_next = 1;
};
