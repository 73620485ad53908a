#include "platform/keyring/KeyringSecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <qcoro/qcorosignal.h>
#include <qt6keychain/keychain.h>

#include <memory>

namespace
{

// The Secret Service counts only when running: started on demand instead, it
// has no keyring the login unlocked and would ask for a new one's password.
// KDE Wallet starts on demand and asks for its own.
const QString secretService = QStringLiteral("org.freedesktop.secrets");
const QStringList walletNames { QStringLiteral("org.kde.kwalletd6"), QStringLiteral("org.kde.kwalletd5") };

// The job deletes itself after its `finished`, which may come within start()
// where no keyring answers: it starts once the wait for it is in place.
QCoro::Task<QKeychain::Job *> run(QKeychain::Job *job)
{
    job->setAutoDelete(true);
    QMetaObject::invokeMethod(
        job, [job] { job->start(); }, Qt::QueuedConnection);
    co_return co_await qCoro(job, &QKeychain::Job::finished);
}

} // namespace

KeyringSecretStore::KeyringSecretStore(QString service)
    : m_service(std::move(service))
{
}

bool KeyringSecretStore::isServed(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusConnectionInterface *names = bus.interface();
    if (names->isServiceRegistered(secretService).value())
        return true;
    const QStringList activatable = names->activatableServiceNames().value();
    for (const QString &name : walletNames) {
        if (names->isServiceRegistered(name).value() || activatable.contains(name))
            return true;
    }
    return false;
}

QCoro::Task<SecretStore::Read> KeyringSecretStore::read(QString key)
{
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(key);
    QKeychain::Job *done = co_await run(job);
    if (done->error() == QKeychain::NoError)
        co_return Read { job->textData(), {} };
    if (done->error() == QKeychain::EntryNotFound)
        co_return Read {};
    co_return Read { std::nullopt, done->errorString() };
}

QCoro::Task<std::optional<QString>> KeyringSecretStore::write(QString key, QString value)
{
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(key);
    job->setTextData(value);
    QKeychain::Job *done = co_await run(job);
    if (done->error() == QKeychain::NoError)
        co_return std::nullopt;
    co_return done->errorString();
}

QCoro::Task<std::optional<QString>> KeyringSecretStore::remove(QString key)
{
    auto *job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(key);
    QKeychain::Job *done = co_await run(job);
    if (done->error() == QKeychain::NoError || done->error() == QKeychain::EntryNotFound)
        co_return std::nullopt;
    co_return done->errorString();
}
