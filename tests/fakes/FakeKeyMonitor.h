#pragma once

#include "platform/KeyMonitor.h"

#include <map>

// Key monitors as the X11 backend runs them: a global monitor sees every key, this program's windows
// included, so no local one is ever installed.
class FakeKeyMonitor : public KeyMonitor
{
public:
    std::optional<Handle> addGlobalMonitor(Handler handler) override
    {
        m_monitors.emplace(m_next, std::move(handler));
        return m_next++;
    }
    std::optional<Handle> addLocalMonitor(Handler) override { return std::nullopt; }
    void removeMonitor(Handle handle) override { m_monitors.erase(handle); }

    void type(const KeyEvent &event)
    {
        const auto monitors = m_monitors; // a handler may remove monitors
        for (const auto &[handle, handler] : monitors)
            handler(event);
    }
    int globalCount() const { return int(m_monitors.size()); }

private:
    std::map<Handle, Handler> m_monitors;
    Handle m_next = 1;
};
