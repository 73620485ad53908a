#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>

// Argon2id off the event loop. Each hash takes about a tenth of a second and
// 64 MiB, so a few threads do them one after another and a burst beyond the
// queue is turned away rather than stalling every other request. The threads
// run at a lower scheduling priority: during a burst of sign-ins the cores go
// to speech decoding first, and a sign-in waits a little longer instead.
class PasswordHasher : public QObject
{
    Q_OBJECT

public:
    // threads 0: half the cores, at least one.
    explicit PasswordHasher(int threads = 0, int maxQueued = 64, QObject *parent = nullptr);
    ~PasswordHasher() override;

    // `done` runs on this object's thread, unless `context` has gone by then.
    // False, and `done` never runs, when the queue is full.
    bool verify(
        const QByteArray &hash, const QString &password, QObject *context, std::function<void(bool)> done);
    bool hash(const QString &password, QObject *context, std::function<void(QByteArray)> done);

    // The same work on the calling thread, for the command line.
    static QByteArray hashNow(const QString &password);
    static bool verifyNow(const QByteArray &hash, const QString &password);
    // A hash to check a password against when the address is unknown, made
    // with the same cost, so that a wrong address takes as long as a wrong
    // password.
    static QByteArray decoyHash();

    // How many verifications have run, decoys included.
    int verifications() const { return m_verifications.load(); }

private:
    bool enqueue(QObject *context, std::function<std::function<void()>()> work);

    QThreadPool m_pool;
    const int m_maxQueued;
    std::atomic<int> m_queued { 0 };
    std::atomic<int> m_verifications { 0 };
};
