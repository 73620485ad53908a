#pragma once

#include "AccountStore.h"
#include "PasswordHasher.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <optional>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QHttpServerResponse;

// Sign-in for the program: the browser pages where a user signs in or creates
// an account (and is then sent to tellwind://callback with a fresh token), the
// account page, and the bearer-token API the program checks its session with.
// Password hashing runs on the hasher's threads; everything else, the
// database included, on the event loop.
class AuthEndpoints : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maximumFormBytes = 16 * 1024;
    static const QByteArray cookieName;
    static const QByteArray csrfCookieName;

    explicit AuthEndpoints(AccountStore &store, QObject *parent = nullptr);

    void registerRoutes(QHttpServer &server);
    // Connections from these may name the client in X-Forwarded-For.
    void setTrustedProxies(const QList<QPair<QHostAddress, int>> &proxies) { m_trustedProxies = proxies; }
    PasswordHasher &hasher() { return m_hasher; }

    // Cookies carry Secure when clients reach the server over https.
    void setPublicOrigin(const QUrl &origin) { m_httpsOrigin = origin.scheme() == QLatin1String("https"); }
    // 200 for a valid session token of the program's, 401 for none or a
    // stale one, 503 when the accounts cannot be reached.
    int sessionStatus(const QHttpServerRequest &request);
    // A guess hashed at once beyond this from one address is turned away.
    static constexpr int maxAttemptsInFlightPerAddress = 2;
    // The account as a whole takes this many times the per-address guesses.
    static constexpr int accountWideFactor = 10;

    // For the operators' figures.
    qint64 signinFailures() const { return m_signinFailures.load(); }
    qint64 lockouts() const { return m_lockouts.load(); }

    // application/x-www-form-urlencoded, strictly: every name and value must
    // be UTF-8 once decoded. The first of repeated names wins.
    static std::optional<QHash<QString, QString>> parseForm(const QByteArray &body);
    // Only paths on this server: anything else could send a signed-in
    // browser to another site.
    static QString safeReturnPath(const QString &requested);
    // The program's sign-in `state`, when it looks like one; it goes back
    // into a link, so nothing but URL-safe characters.
    static QString safeState(const QString &requested);
    // The socket's address, or for a trusted proxy the last address in
    // X-Forwarded-For that is not itself a trusted proxy.
    QHostAddress clientAddress(const QHttpServerRequest &request) const;

private:
    struct Bearer {
        std::optional<AccountStore::Account> account;
        QString token;
        QString error;
        bool unavailable = false;
    };
    QHttpServerResponse loginPage(const QHttpServerRequest &request);
    void submitLogin(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    QHttpServerResponse accountPage(const QHttpServerRequest &request);
    QHttpServerResponse submitLogout(const QHttpServerRequest &request);
    QHttpServerResponse me(const QHttpServerRequest &request);
    QHttpServerResponse verify(const QHttpServerRequest &request);
    QHttpServerResponse revoke(const QHttpServerRequest &request);

    Bearer authenticateBearer(const QHttpServerRequest &request);
    AccountStore::SessionLookup browserSession(const QHttpServerRequest &request);
    bool isTrustedProxy(const QHostAddress &address) const;
    bool isHttps(const QHttpServerRequest &request) const;
    static void secureCookies(QHttpServerResponse &response);
    void releaseAttempt(const QHostAddress &client);

    AccountStore &m_store;
    PasswordHasher m_hasher;
    QList<QPair<QHostAddress, int>> m_trustedProxies;
    QTimer m_purge;
    QHash<QHostAddress, int> m_inFlight;
    bool m_httpsOrigin = false;
    std::atomic<qint64> m_signinFailures { 0 };
    std::atomic<qint64> m_lockouts { 0 };
};
