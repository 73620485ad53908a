#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <optional>

// The per-user defaults store ($XDG_CONFIG_HOME/Tellwind/Tellwind.conf).
// Reads are typed: an absent key or a value of another type gives the
// caller's default. Every write reaches the disk before the call returns, and
// the file stays readable by its owner only, because it holds the sign-in token.
class Settings
{
public:
    static bool boolValue(const QString &key, bool defaultValue);
    static std::optional<double> doubleValue(const QString &key);
    static std::optional<QString> stringValue(const QString &key);
    static std::optional<QByteArray> dataValue(const QString &key);

    static void setBool(const QString &key, bool value);
    static void setDouble(const QString &key, double value);
    static void setString(const QString &key, const QString &value);
    static void setData(const QString &key, const QByteArray &value);
    static void remove(const QString &key);
    static bool contains(const QString &key);

    static QString filePath();

private:
    static void write(const QString &key, const QVariant &value);
};
