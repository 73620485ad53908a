#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>

// Waits that keep a fixed rhythm. Each wait ends its duration after the end
// of the previous one, not after the moment the caller got round to waiting:
// timers fire late by a fraction of a millisecond and posting a key costs a
// little too, which over a thousand characters would add up to a noticeably
// slower pace than the one fixed for typing. After a stall (a busy event
// loop) the rhythm starts over instead of racing to catch up, so the target
// never gets a burst of keys.
class Pacer
{
public:
    // The next wait counts from now.
    void restart() { m_running = false; }
    // Always suspends, even when the moment has passed, so other work on the
    // main thread gets its turn between key strokes.
    QCoro::Task<> wait(std::chrono::milliseconds duration);

private:
    std::chrono::steady_clock::time_point m_deadline;
    bool m_running = false;
};
