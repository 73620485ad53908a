#include "account/User.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QTimeZone>

#include <cmath>

QString rawValue(AuthProvider provider)
{
    switch (provider) {
    case AuthProvider::google:
        return QStringLiteral("google");
    case AuthProvider::apple:
        return QStringLiteral("apple");
    case AuthProvider::email:
        return QStringLiteral("email");
    }
    return {};
}

std::optional<AuthProvider> authProviderFromRawValue(const QString &value)
{
    for (AuthProvider provider : { AuthProvider::google, AuthProvider::apple, AuthProvider::email }) {
        if (rawValue(provider) == value)
            return provider;
    }
    return std::nullopt;
}

QDateTime User::referenceDate()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

std::optional<QDateTime> User::createdAtDate() const
{
    if (!createdAt)
        return std::nullopt;
    return referenceDate().addMSecs(qint64(std::llround(*createdAt * 1000.0)));
}

void User::setCreatedAtDate(const QDateTime &date)
{
    createdAt = double(referenceDate().msecsTo(date)) / 1000.0;
}

QJsonObject User::toJson() const
{
    QJsonObject object { { QStringLiteral("id"), id }, { QStringLiteral("email"), email },
        { QStringLiteral("provider"), rawValue(provider) } };
    if (name)
        object.insert(QStringLiteral("name"), *name);
    if (createdAt)
        object.insert(QStringLiteral("createdAt"), *createdAt);
    return object;
}

QByteArray User::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

namespace
{

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool requiredString(const QJsonObject &object, const QString &key, QString *out, QString *error)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return fail(error, QStringLiteral("The member '%1' is missing.").arg(key));
    if (!value.isString())
        return fail(error, QStringLiteral("The member '%1' is not a string.").arg(key));
    *out = value.toString();
    return true;
}

std::optional<QJsonObject> parseObject(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(error, QStringLiteral("The data is not valid JSON (%1).").arg(parseError.errorString()));
        return std::nullopt;
    }
    if (!document.isObject()) {
        fail(error, QStringLiteral("The data is not a JSON object."));
        return std::nullopt;
    }
    return document.object();
}

} // namespace

std::optional<User> User::fromJson(const QJsonObject &object, QString *error)
{
    User user;
    QString provider;
    if (!requiredString(object, QStringLiteral("id"), &user.id, error)
        || !requiredString(object, QStringLiteral("email"), &user.email, error)
        || !requiredString(object, QStringLiteral("provider"), &provider, error))
        return std::nullopt;
    const auto knownProvider = authProviderFromRawValue(provider);
    if (!knownProvider) {
        fail(error, QStringLiteral("The provider '%1' is not one of google, apple, email.").arg(provider));
        return std::nullopt;
    }
    user.provider = *knownProvider;

    // Optional members may be absent or null; present with another type is an error.
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (name.isString())
        user.name = name.toString();
    else if (!name.isUndefined() && !name.isNull()) {
        fail(error, QStringLiteral("The member 'name' is not a string."));
        return std::nullopt;
    }
    const QJsonValue createdAt = object.value(QStringLiteral("createdAt"));
    if (createdAt.isDouble() && std::isfinite(createdAt.toDouble()))
        user.createdAt = createdAt.toDouble();
    else if (!createdAt.isUndefined() && !createdAt.isNull()) {
        fail(error, QStringLiteral("The member 'createdAt' is not a number."));
        return std::nullopt;
    }
    return user;
}

std::optional<User> User::decode(const QByteArray &json, QString *error)
{
    const auto object = parseObject(json, error);
    if (!object)
        return std::nullopt;
    return fromJson(*object, error);
}

std::optional<AuthResponse> AuthResponse::decode(const QByteArray &json, QString *error)
{
    const auto object = parseObject(json, error);
    if (!object)
        return std::nullopt;
    const QJsonValue user = object->value(QStringLiteral("user"));
    if (!user.isObject()) {
        fail(error, QStringLiteral("The member 'user' is missing or not an object."));
        return std::nullopt;
    }
    auto decodedUser = User::fromJson(user.toObject(), error);
    if (!decodedUser)
        return std::nullopt;
    AuthResponse response { *decodedUser, {} };
    if (!requiredString(*object, QStringLiteral("token"), &response.token, error))
        return std::nullopt;
    return response;
}
