#include "DecoderPool.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <map>
#include <memory>

DecoderPool::DecoderPool(QMap<QString, SpeechModel> models, int threads, int maxQueued)
    : m_models(std::move(models)), m_maxQueued(maxQueued)
{
    // Every worker builds its English decoder before the server listens, so
    // the first upload does not pay for loading the model.
    std::vector<std::future<QString>> started;
    for (int i = 0; i < std::max(threads, 1); ++i) {
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
    std::map<QString, std::unique_ptr<SpeechDecoder>> decoders;
    {
        QString error;
        auto english = SpeechDecoder::create(m_models.value(QStringLiteral("en-US")), &error);
        if (english)
            decoders[QStringLiteral("en-US")] = std::move(english);
        started.set_value(error);
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
        auto found = decoders.find(job.language);
        if (found == decoders.end()) {
            // Other languages load on first use, once per worker.
            QString error;
            auto decoder = SpeechDecoder::create(m_models.value(job.language), &error);
            if (decoder)
                found = decoders.emplace(job.language, std::move(decoder)).first;
            else
                result.error = error;
        }
        if (found != decoders.end())
            result.text = found->second->decode(job.pcm);
        result.decodeMilliseconds = clock.elapsed();

        if (job.context) {
            QMetaObject::invokeMethod(
                job.context, [done = std::move(job.done), result] { done(result); },
                Qt::QueuedConnection);
        }
    }
}
