#pragma once

#include "platform/SecretStore.h"

class QDBusConnection;

// The desktop's keyring through QtKeychain: the Secret Service (GNOME
// Keyring, KeePassXC) or KDE Wallet, whichever the session runs.
class KeyringSecretStore : public SecretStore
{
public:
    // Secrets are filed under `service` with their key as the user name.
    explicit KeyringSecretStore(QString service = QStringLiteral("Tellwind"));

    // Whether a keyring answers on `bus` (or could be started there).
    static bool isServed(const QDBusConnection &bus);

    bool isKeyring() const override { return true; }
    QCoro::Task<Read> read(QString key) override;
    QCoro::Task<std::optional<QString>> write(QString key, QString value) override;
    QCoro::Task<std::optional<QString>> remove(QString key) override;

private:
    QString m_service;
};
