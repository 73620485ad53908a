#pragma once

#include "platform/KeyMonitor.h"

#include <map>

// Key monitors as a desktop would run them: a key typed into another
// application reaches the global monitors, one typed into ours the local ones.
class FakeKeyMonitor : public KeyMonitor
{
public:
    bool installsGlobal = true;
    bool installsLocal = true;

    std::optional<Handle> addGlobalMonitor(Handler handler) override
    {
        if (!installsGlobal)
            return std::nullopt;
        m_global.emplace(m_next, std::move(handler));
        return m_next++;
    }

    std::optional<Handle> addLocalMonitor(Handler handler) override
    {
        if (!installsLocal)
            return std::nullopt;
        m_local.emplace(m_next, std::move(handler));
        return m_next++;
    }

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
    static void deliver(const std::map<Handle, Handler> &monitors, const KeyEvent &event)
    {
        const auto copy = monitors;
        for (const auto &[handle, handler] : copy)
            handler(event);
    }

    std::map<Handle, Handler> m_global;
    std::map<Handle, Handler> m_local;
    Handle m_next = 1;
};
