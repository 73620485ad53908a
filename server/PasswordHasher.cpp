#include "PasswordHasher.h"

#include <QPointer>
#include <QThread>

#include <sodium.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

// Linux keeps a nice value per thread; this one applies to the calling thread only.
void lowerThisThreadsPriority()
{
    thread_local const bool lowered = setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10) == 0;
    Q_UNUSED(lowered);
}

} // namespace

PasswordHasher::PasswordHasher(int threads, int maxQueued, QObject *parent)
    : QObject(parent)
    , m_maxQueued(maxQueued)
{
    m_pool.setMaxThreadCount(threads > 0 ? threads : std::max(1, QThread::idealThreadCount() / 2));
    m_pool.setObjectName(QStringLiteral("password hashing"));
}

PasswordHasher::~PasswordHasher()
{
    m_pool.waitForDone();
}

QByteArray PasswordHasher::hashNow(const QString &password)
{
    if (sodium_init() < 0)
        return {};
    char out[crypto_pwhash_STRBYTES];
    const QByteArray utf8 = password.toUtf8();
    if (crypto_pwhash_str(out, utf8.constData(), quint64(utf8.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        return {};
    return QByteArray(out);
}

bool PasswordHasher::verifyNow(const QByteArray &hash, const QString &password)
{
    if (hash.isEmpty() || sodium_init() < 0)
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), utf8.constData(), quint64(utf8.size())) == 0;
}

QByteArray PasswordHasher::decoyHash()
{
    static const QByteArray hash = hashNow(QStringLiteral("decoy password"));
    return hash;
}

bool PasswordHasher::enqueue(QObject *context, std::function<std::function<void()>()> work)
{
    if (m_queued.fetch_add(1) >= m_maxQueued) {
        m_queued.fetch_sub(1);
        return false;
    }
    QPointer<QObject> guard(context);
    m_pool.start([this, guard, work = std::move(work)] {
        lowerThisThreadsPriority();
        std::function<void()> finish = work();
        m_queued.fetch_sub(1);
        // Queued to this object: the destructor waits for the pool, and
        // calls posted to a destroyed object are dropped.
        QMetaObject::invokeMethod(
            this,
            [guard, finish = std::move(finish)] {
                if (guard)
                    finish();
            },
            Qt::QueuedConnection);
    });
    return true;
}

bool PasswordHasher::verify(
    const QByteArray &hash, const QString &password, QObject *context, std::function<void(bool)> done)
{
    return enqueue(context, [this, hash, password, done = std::move(done)]() -> std::function<void()> {
        const bool ok = verifyNow(hash, password);
        m_verifications.fetch_add(1);
        return [done, ok] { done(ok); };
    });
}

bool PasswordHasher::hash(const QString &password, QObject *context, std::function<void(QByteArray)> done)
{
    return enqueue(context, [password, done = std::move(done)]() -> std::function<void()> {
        const QByteArray result = hashNow(password);
        return [done, result] { done(result); };
    });
}
