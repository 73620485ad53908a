#pragma once

#include "platform/SecretStore.h"

// The settings file (mode 600) as the store, where no keyring answers.
class SettingsSecretStore : public SecretStore
{
public:
    bool isKeyring() const override { return false; }
    QCoro::Task<Read> read(QString key) override;
    QCoro::Task<std::optional<QString>> write(QString key, QString value) override;
    QCoro::Task<std::optional<QString>> remove(QString key) override;
};
