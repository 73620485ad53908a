#pragma once

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

#include <optional>

// Where a write that did not reach the disk is announced, so that the
// program can tell the user: the change holds only until it ends.
class SettingsStatus : public QObject
{
    Q_OBJECT

public:
    static SettingsStatus &instance();

signals:
    void writeFailed(const QString &filePath);
};

// The per-user defaults store ($XDG_CONFIG_HOME/Tellwind/Tellwind.conf).
// Reads are typed: an absent key or a value of another type gives the
// caller's default. Every write reaches the disk before the call returns, and
// the file stays readable by its owner only, because it holds the sign-in token.
// A write that fails (an unwritable file or folder) is logged and announced
// through SettingsStatus, and the setter answers false.
class Settings
{
public:
    static bool boolValue(const QString &key, bool defaultValue);
    static std::optional<double> doubleValue(const QString &key);
    static std::optional<QString> stringValue(const QString &key);
    static std::optional<QByteArray> dataValue(const QString &key);

    static bool setBool(const QString &key, bool value);
    static bool setDouble(const QString &key, double value);
    static bool setString(const QString &key, const QString &value);
    static bool setData(const QString &key, const QByteArray &value);
    static bool remove(const QString &key);
    static bool contains(const QString &key);

    static QString filePath();

private:
    static bool write(const QString &key, const QVariant &value);
};
