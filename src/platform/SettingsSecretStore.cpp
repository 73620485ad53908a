#include "platform/SettingsSecretStore.h"

#include "common/Settings.h"

// None of these suspends: a caller's co_await goes on at once, as a plain
// call would.
QCoro::Task<SecretStore::Read> SettingsSecretStore::read(QString key)
{
    co_return Read { Settings::stringValue(key), {} };
}

QCoro::Task<std::optional<QString>> SettingsSecretStore::write(QString key, QString value)
{
    if (Settings::setString(key, value))
        co_return std::nullopt;
    co_return QStringLiteral("the settings file could not be written");
}

QCoro::Task<std::optional<QString>> SettingsSecretStore::remove(QString key)
{
    if (Settings::remove(key))
        co_return std::nullopt;
    co_return QStringLiteral("the settings file could not be written");
}
