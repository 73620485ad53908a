#pragma once

#include "SpeechDecoder.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <future>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of worker threads, each with its own decoders, made once at
// start-up. Uploads decode in parallel off the server's event loop; the
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

    // `models` maps a language code to its model; "en-US" must be present.
    DecoderPool(QMap<QString, SpeechModel> models, int threads, int maxQueued);
    ~DecoderPool();

    // False (with the reason) when the en-US decoders could not be made.
    bool isReady(QString *error = nullptr) const;
    bool supports(const QString &language) const { return m_models.contains(language); }
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

    QMap<QString, SpeechModel> m_models;
    int m_maxQueued;
    std::vector<std::thread> m_threads;
    QString m_startError;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
};
