#pragma once

#include "AccountStore.h"

#include <QHash>
#include <QString>

#include <optional>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;

// Sign-in for the program: the browser pages where a user signs in or creates
// an account (and is then sent to tellwind://callback with a fresh token), the
// account page, and the bearer-token API the program checks its session with.
class AuthEndpoints
{
public:
    static constexpr qsizetype maximumFormBytes = 16 * 1024;
    static const QByteArray cookieName;

    explicit AuthEndpoints(AccountStore &store);

    void registerRoutes(QHttpServer &server);

    QHttpServerResponse loginPage(const QHttpServerRequest &request);
    QHttpServerResponse submitLogin(const QHttpServerRequest &request);
    QHttpServerResponse accountPage(const QHttpServerRequest &request);
    QHttpServerResponse submitLogout(const QHttpServerRequest &request);
    QHttpServerResponse me(const QHttpServerRequest &request);
    QHttpServerResponse verify(const QHttpServerRequest &request);

    // application/x-www-form-urlencoded, strictly: every name and value must
    // be UTF-8 once decoded. The first of repeated names wins.
    static std::optional<QHash<QString, QString>> parseForm(const QByteArray &body);
    // Only paths on this server: anything else could send a signed-in
    // browser to another site.
    static QString safeReturnPath(const QString &requested);

private:
    struct Bearer {
        std::optional<AccountStore::Account> account;
        QString token;
        QString error;
    };
    Bearer authenticateBearer(const QHttpServerRequest &request);
    std::optional<AccountStore::Account> browserAccount(const QHttpServerRequest &request);
    QHttpServerResponse signedIn(const AccountStore::Account &account);

    AccountStore &m_store;
};
