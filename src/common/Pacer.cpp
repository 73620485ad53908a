#include "common/Pacer.h"

#include <QTimer>

#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;

namespace
{
constexpr auto stallLimit = 20ms;
}

QCoro::Task<> Pacer::wait(std::chrono::milliseconds duration)
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_running || now - m_deadline > stallLimit)
        m_deadline = now;
    m_running = true;
    m_deadline += duration;

    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - now);
    QTimer timer;
    // Coarse timers may fire up to 5% early, and are allowed to be late.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(std::max(remaining, 0ms));
    co_await timer;
}
