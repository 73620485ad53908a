#include "platform/SyntheticKeyLog.h"

#include <QDateTime>
#include <QMutexLocker>

namespace
{
// An event we sent reaches the monitor within milliseconds; an entry that old
// was never seen (for example the monitor was off) and must not swallow a
// later key of the user's.
constexpr qint64 entryLifetimeMs = 2000;
} // namespace

void SyntheticKeyLog::recordSent(unsigned keycode, bool press)
{
    QMutexLocker lock(&m_mutex);
    m_entries.push_back({ keycode, press, QDateTime::currentMSecsSinceEpoch() });
}

bool SyntheticKeyLog::takeIfSent(unsigned keycode, bool press)
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    while (!m_entries.empty() && now - m_entries.front().sentAtMs > entryLifetimeMs)
        m_entries.pop_front();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->keycode == keycode && it->press == press) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}
