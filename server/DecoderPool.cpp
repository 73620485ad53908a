#include "DecoderPool.h"

#include <QElapsedTimer>
#include <QMetaObject>

DecoderPool::DecoderPool(ModelRegistry &models, int threads, int maxQueued)
    : m_models(models)
    , m_maxQueued(maxQueued)
{
    // Every worker holds an English decoder of its own before the server
    // listens, so the first uploads do not pay for loading the model.
    const int count = std::max(threads, 1);
    m_allStarted = std::make_unique<std::latch>(count);
    std::vector<std::future<QString>> started;
    for (int i = 0; i < count; ++i) {
        std::promise<QString> promise;
        started.push_back(promise.get_future());
        m_threads.emplace_back(&DecoderPool::work, this, std::move(promise));
    }
    for (auto &future : started) {
        const QString error = future.get();
        if (!error.isEmpty() && m_startError.isEmpty())
            m_startError = error;
    }
}

DecoderPool::~DecoderPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto &thread : m_threads)
        thread.join();
}

bool DecoderPool::isReady(QString *error) const
{
    if (error)
        *error = m_startError;
    return m_startError.isEmpty();
}

bool DecoderPool::decode(const QString &language, QByteArray pcm, QObject *context, Done done)
{
    {
        std::lock_guard lock(m_mutex);
        if (int(m_jobs.size()) >= m_maxQueued)
            return false;
        m_jobs.push_back({ language, std::move(pcm), context, std::move(done) });
    }
    m_wake.notify_one();
    return true;
}

void DecoderPool::work(std::promise<QString> started)
{
    {
        QString error;
        ModelRegistry::Lease english = m_models.acquire(QStringLiteral("en-US"), &error);
        started.set_value(error);
        m_allStarted->arrive_and_wait();
    }

    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }

        Result result;
        QElapsedTimer clock;
        clock.start();
        if (ModelRegistry::Lease lease = m_models.acquire(job.language, &result.error))
            result.text = lease.decoder().decode(job.pcm);
        result.decodeMilliseconds = clock.elapsed();

        if (job.context) {
            QMetaObject::invokeMethod(
                job.context, [done = std::move(job.done), result] { done(result); }, Qt::QueuedConnection);
        }
    }
}
