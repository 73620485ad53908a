#pragma once

#include "account/User.h"
#include "platform/SecretStore.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <qcoro/qcorotask.h>

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The user's account session: the bearer token the sign-in page hands over
// through a tellwind://callback link, and the account record that goes with
// it. The token is kept in the desktop's keyring (a settings file only the
// user can read where none answers), the record in the settings; both are
// checked with the server at every start, and a session the server rejects
// (401, 403) is dropped.
//
// A callback link can come from any web page or local process, so only one
// answering a sign-in this program started is taken: the sign-in URL carries
// a random `state` that the server hands back in the link, good once and for
// ten minutes.
class AuthManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
    // For views: the `User` record, or undefined while signed out.
    Q_PROPERTY(QVariant currentUser READ currentUserValue NOTIFY currentUserChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString baseURL READ baseURL CONSTANT)
    // False where no keyring answered and the token is kept in the settings file.
    Q_PROPERTY(bool tokenInKeyring READ tokenInKeyring CONSTANT)

public:
    static const QString tokenKey;
    static const QString userKey;
    static const QString baseURLKey;
    // Sign-ins started and not yet answered: {state: issued at, ms since the epoch}.
    static const QString signInStatesKey;
    static constexpr std::chrono::minutes signInStateLifetime { 10 };
    static constexpr int maximumPendingSignIns = 16;
    static const QString defaultBaseURL;
    static constexpr std::chrono::milliseconds defaultRequestTimeout { 60000 };
    // A bearer token goes into an HTTP header verbatim, so anything that could
    // break out of it (controls, CR/LF, spaces, non-ASCII) or bloat it is refused.
    static constexpr qsizetype maximumTokenLength = 4096;

    // Reads the server address from the settings and restores a stored
    // session, its token from `secrets` (the settings file when none is
    // given). A token an earlier version left in the settings file moves
    // into a keyring.
    explicit AuthManager(std::unique_ptr<SecretStore> secrets = {}, QObject *parent = nullptr);
    ~AuthManager() override;

    bool isAuthenticated() const { return m_isAuthenticated; }
    std::optional<User> currentUser() const { return m_currentUser; }
    QVariant currentUserValue() const;
    bool isLoading() const { return m_isLoading; }
    QString errorMessage() const { return m_errorMessage; }
    QString baseURL() const { return m_baseURL; }
    bool tokenInKeyring() const { return m_secrets->isKeyring(); }
    // For requests made on the user's behalf; nothing while signed out.
    std::optional<QString> sessionToken() const { return m_token; }

    void setRequestTimeout(std::chrono::milliseconds timeout) { m_requestTimeout = timeout; }
    // Tests move time forward to see a sign-in go stale.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // The page to open in the browser, with a fresh `state` for its callback.
    Q_INVOKABLE QString beginSignIn();
    Q_INVOKABLE void handleDeepLink(const QUrl &url);
    // Signs out here at once, and asks the server to revoke the token too.
    Q_INVOKABLE void signOut();

    QCoro::Task<> loadStoredAuth();
    void saveAuth(const User &user, const QString &token);
    QCoro::Task<> verifySession();
    QCoro::Task<bool> handleAuthCallback(QUrl url);
    QCoro::Task<bool> fetchUserInfo(QString token);

    // What a callback link asks for: a token to fetch the account with, or
    // the message to show instead.
    struct CallbackRequest {
        std::optional<QString> token;
        QString errorMessage;
        QString state;
    };
    static CallbackRequest parseCallback(const QUrl &url);
    static bool isAcceptableToken(const QString &token);

signals:
    void isAuthenticatedChanged(bool value);
    void currentUserChanged(std::optional<User> value);
    void isLoadingChanged(bool value);
    void errorMessageChanged(QString value);

private:
    void setIsAuthenticated(bool value);
    void setCurrentUser(const std::optional<User> &value);
    void setIsLoading(bool value);
    void setErrorMessage(const QString &value);
    std::optional<QUrl> endpoint(const QString &path) const;
    QNetworkReply *get(const QUrl &url, const QString &token);
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    // True once for a state this program issued within the lifetime.
    bool takeSignInState(const QString &state);
    void clearSession();
    QCoro::Task<> revokeOnServer(QString token);

    std::unique_ptr<SecretStore> m_secrets;
    std::optional<QString> m_token;
    bool m_isAuthenticated = false;
    std::optional<User> m_currentUser;
    bool m_isLoading = false;
    QString m_errorMessage;
    QString m_baseURL;
    std::chrono::milliseconds m_requestTimeout = defaultRequestTimeout;
    QNetworkAccessManager m_network;
    bool m_destroying = false;
    std::function<QDateTime()> m_clock;
};
