#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

// How an account signs in.
namespace AuthProviders
{
Q_NAMESPACE
enum class AuthProvider { google, apple, email };
Q_ENUM_NS(AuthProvider)
} // namespace AuthProviders

using AuthProviders::AuthProvider;

QString rawValue(AuthProvider provider);
std::optional<AuthProvider> authProviderFromRawValue(const QString &value);

// The signed-in account as the backend describes it. The same JSON is sent on
// the wire and kept in the settings store; members we do not know are ignored.
struct User {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString email MEMBER email CONSTANT)
    Q_PROPERTY(QString name READ displayName CONSTANT)
    Q_PROPERTY(QString provider READ providerName CONSTANT)

public:
    QString id;
    QString email;
    std::optional<QString> name;
    AuthProvider provider = AuthProvider::email;
    // Seconds since 2001-01-01T00:00:00Z, kept as sent so that re-encoding
    // gives back the same number.
    std::optional<double> createdAt;

    // 2001-01-01T00:00:00Z, the epoch of `createdAt`.
    static QDateTime referenceDate();
    std::optional<QDateTime> createdAtDate() const;
    void setCreatedAtDate(const QDateTime &date);

    QString displayName() const { return name.value_or(QString()); }
    QString providerName() const { return rawValue(provider); }

    QJsonObject toJson() const;
    QByteArray encode() const;

    // Null with a readable reason in `error` when the object lacks a required
    // member, has one of the wrong type or names an unknown provider.
    static std::optional<User> fromJson(const QJsonObject &object, QString *error = nullptr);
    static std::optional<User> decode(const QByteArray &json, QString *error = nullptr);

    friend bool operator==(const User &, const User &) = default;
};

Q_DECLARE_METATYPE(User)

// The answer of the session check: the account and its token.
struct AuthResponse {
    User user;
    QString token;

    static std::optional<AuthResponse> decode(const QByteArray &json, QString *error = nullptr);
};
