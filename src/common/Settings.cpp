#include "common/Settings.h"

#include "common/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>

namespace
{

QSettings store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tellwind"),
        QStringLiteral("Tellwind"));
}

void restrictToOwner(const QString &path)
{
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

// QSettings' INI backend keeps no type: "true", "1.5" and "text" all read back
// as strings. A value counts as a bool only when it was written as one.
std::optional<bool> parseBool(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    if (value.metaType().id() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

QString statusText(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        return QStringLiteral("cannot write the file or its folder");
    case QSettings::FormatError:
        return QStringLiteral("the file is damaged");
    }
    return {};
}

} // namespace

SettingsStatus &SettingsStatus::instance()
{
    static SettingsStatus status;
    return status;
}

QString Settings::filePath()
{
    return store().fileName();
}

bool Settings::boolValue(const QString &key, bool defaultValue)
{
    return parseBool(store().value(key)).value_or(defaultValue);
}

std::optional<double> Settings::doubleValue(const QString &key)
{
    const QVariant value = store().value(key);
    if (!value.isValid() || value.metaType().id() == QMetaType::QVariantList
        || value.metaType().id() == QMetaType::QStringList)
        return std::nullopt;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<QString> Settings::stringValue(const QString &key)
{
    const QVariant value = store().value(key);
    if (value.metaType().id() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QByteArray> Settings::dataValue(const QString &key)
{
    const QVariant value = store().value(key);
    if (value.metaType().id() == QMetaType::QByteArray)
        return value.toByteArray();
    return std::nullopt;
}

bool Settings::write(const QString &key, const QVariant &value)
{
    QSettings settings = store();
    const QString path = settings.fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Create the file owner-only before the first byte of a secret is written.
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    restrictToOwner(path);
    if (value.isValid())
        settings.setValue(key, value);
    else
        settings.remove(key);
    settings.sync();
    // QSettings replaces the file on sync; the new file must be owner-only too.
    restrictToOwner(path);
    // The value stays in this process's cache either way: without this
    // check the change looks made until the next start.
    if (settings.status() == QSettings::NoError)
        return true;
    qCWarning(lcApp).noquote()
        << QStringLiteral("❌ Setting '%1' not saved to %2: %3").arg(key, path, statusText(settings.status()));
    emit SettingsStatus::instance().writeFailed(path);
    return false;
}

bool Settings::setBool(const QString &key, bool value)
{
    return write(key, value);
}
bool Settings::setDouble(const QString &key, double value)
{
    return write(key, value);
}
bool Settings::setString(const QString &key, const QString &value)
{
    return write(key, value);
}
bool Settings::setData(const QString &key, const QByteArray &value)
{
    return write(key, value);
}
bool Settings::remove(const QString &key)
{
    return write(key, QVariant());
}
bool Settings::contains(const QString &key)
{
    return store().contains(key);
}
