#pragma once

#include "ModelRegistry.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of worker threads that borrow decoders from the model
// registry. Uploads decode in parallel off the server's event loop; the
// result comes back on the thread of the context object given with the job,
// which must outlive the pool.
class DecoderPool
{
public:
    struct Result {
        QString text;
        QString error; // set when the language has no usable model
        qint64 decodeMilliseconds = 0;
    };
    using Done = std::function<void(Result)>;

    // The registry must know "en-US" and outlive the pool.
    DecoderPool(ModelRegistry &models, int threads, int maxQueued);
    ~DecoderPool();

    // False (with the reason) when the en-US decoders could not be made.
    bool isReady(QString *error = nullptr) const;
    bool supports(const QString &language) const { return m_models.has(language); }
    int threadCount() const { return int(m_threads.size()); }

    // False when the queue is full; `done` then never runs.
    bool decode(const QString &language, QByteArray pcm, QObject *context, Done done);

private:
    struct Job {
        QString language;
        QByteArray pcm;
        QObject *context = nullptr;
        Done done;
    };

    void work(std::promise<QString> started);

    ModelRegistry &m_models;
    int m_maxQueued;
    std::unique_ptr<std::latch> m_allStarted;
    std::vector<std::thread> m_threads;
    QString m_startError;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
};
