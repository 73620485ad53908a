#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <memory>

// `co_await nextSignal(object, &Type::signal)` resumes the coroutine on the
// next emission of `signal` (or when `timeout` runs out), always from the
// event loop, never inside the emission.
//
// Used instead of qCoro(object, signal) for signals that may fire more than
// once before the coroutine runs again (a stop settling twice, two uploads
// ending in one turn of the loop): that awaiter queues one resume for every
// emission, and the second one calls into an awaiter that is already gone.
// Here the first emission disconnects at once and only one resume is queued;
// an awaiter that is destroyed first (a timeout won) cancels it.
template <typename T, typename Signal> class NextSignal
{
public:
    NextSignal(T *object, Signal signal, std::chrono::milliseconds timeout)
        : m_object(object)
        , m_signal(signal)
        , m_timeout(timeout)
    {
    }
    // Moved only before it is awaited (the coroutine machinery passes the
    // awaitable on), when nothing is connected yet.
    NextSignal(NextSignal &&other) noexcept
        : m_object(other.m_object)
        , m_signal(other.m_signal)
        , m_timeout(other.m_timeout)
    {
        Q_ASSERT(!other.m_waiting);
    }
    NextSignal(const NextSignal &) = delete;
    NextSignal &operator=(const NextSignal &) = delete;
    NextSignal &operator=(NextSignal &&) = delete;

    ~NextSignal()
    {
        QObject::disconnect(m_connection);
        if (m_waiting)
            m_waiting->coroutine = {};
    }

    bool await_ready() const noexcept { return m_object.isNull(); }

    void await_suspend(std::coroutine_handle<> coroutine)
    {
        m_waiting = std::make_shared<Waiting>(coroutine);
        // From the event loop: the emitter, or the timer, is still in the
        // middle of its work when it tells us. Without a context object, so
        // that the coroutine also resumes when `object` is gone by then.
        auto resumeLater = [this, waiting = m_waiting] {
            QObject::disconnect(m_connection);
            if (m_timer)
                m_timer->stop();
            QTimer::singleShot(0, [waiting] { waiting->resume(); });
        };
        m_connection
            = QObject::connect(m_object.data(), m_signal, m_object.data(), resumeLater, Qt::DirectConnection);
        if (m_timeout.count() >= 0) {
            m_timer = std::make_unique<QTimer>();
            m_timer->setSingleShot(true);
            QObject::connect(m_timer.get(), &QTimer::timeout, resumeLater);
            m_timer->start(m_timeout);
        }
    }

    void await_resume() const noexcept { }

private:
    struct Waiting {
        explicit Waiting(std::coroutine_handle<> handle)
            : coroutine(handle)
        {
        }
        // Resumes at most once, and not after the awaiter has gone.
        void resume()
        {
            if (std::coroutine_handle<> handle = std::exchange(coroutine, {}))
                handle.resume();
        }
        std::coroutine_handle<> coroutine;
    };

    QPointer<T> m_object;
    Signal m_signal;
    std::chrono::milliseconds m_timeout;
    QMetaObject::Connection m_connection;
    std::unique_ptr<QTimer> m_timer;
    std::shared_ptr<Waiting> m_waiting;
};

template <typename T, typename Signal>
NextSignal<T, Signal> nextSignal(
    T *object, Signal signal, std::chrono::milliseconds timeout = std::chrono::milliseconds(-1))
{
    return NextSignal<T, Signal>(object, signal, timeout);
}
