#pragma once

#include "platform/KeyMonitor.h"

#include <map>

// Key monitors as a desktop runs them: a key typed into another application
// reaches the global monitors, one typed into ours the local ones.
class FakeKeyMonitor : public KeyMonitor
{
public:
    std::optional<Handle> addGlobalMonitor(Handler handler) override { return add(m_global, std::move(handler)); }
    std::optional<Handle> addLocalMonitor(Handler handler) override { return add(m_local, std::move(handler)); }
    void removeMonitor(Handle handle) override
    {
        m_global.erase(handle);
        m_local.erase(handle);
    }

    void typeInOtherApplication(const KeyEvent &event) { deliver(m_global, event); }
    void typeInThisApplication(const KeyEvent &event) { deliver(m_local, event); }
    int globalCount() const { return int(m_global.size()); }
    int localCount() const { return int(m_local.size()); }

private:
    Handle add(std::map<Handle, Handler> &monitors, Handler handler)
    {
        monitors.emplace(m_next, std::move(handler));
        return m_next++;
    }
    static void deliver(std::map<Handle, Handler> monitors, const KeyEvent &event)
    {
        for (const auto &[handle, handler] : monitors)
            handler(event);
    }

    std::map<Handle, Handler> m_global;
    std::map<Handle, Handler> m_local;
    Handle m_next = 1;
};
