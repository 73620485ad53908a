#include "account/AuthManager.h"

#include "account/LogRedaction.h"
#include "common/Log.h"
#include "common/Settings.h"
#include "platform/SettingsSecretStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <qcoro/qcoronetworkreply.h>

#include <memory>

const QString AuthManager::tokenKey = QStringLiteral("com.tellwind.authToken");
const QString AuthManager::userKey = QStringLiteral("com.tellwind.user");
const QString AuthManager::baseURLKey = QStringLiteral("serverBaseURL");
const QString AuthManager::signInStatesKey = QStringLiteral("com.tellwind.signInStates");
const QString AuthManager::defaultBaseURL = QStringLiteral("http://127.0.0.1:8750");

namespace
{

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

// Requests are only ever cut short by their transfer timeout, and Qt reports
// that as a cancellation; say what actually happened.
QString describeFailure(const QNetworkReply &reply)
{
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("The request timed out.");
    return reply.errorString();
}

QJsonObject storedSignInStates()
{
    return QJsonDocument::fromJson(Settings::dataValue(AuthManager::signInStatesKey).value_or(QByteArray()))
        .object();
}

std::optional<int> httpStatus(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

} // namespace

AuthManager::AuthManager(std::unique_ptr<SecretStore> secrets, QObject *parent)
    : QObject(parent)
    , m_secrets(secrets ? std::move(secrets) : std::make_unique<SettingsSecretStore>())
{
    m_baseURL = Settings::stringValue(baseURLKey).value_or(defaultBaseURL).trimmed();
    while (m_baseURL.endsWith(QLatin1Char('/')))
        m_baseURL.chop(1);
    loadStoredAuth();
}

QVariant AuthManager::currentUserValue() const
{
    return m_currentUser ? QVariant::fromValue(*m_currentUser) : QVariant();
}

bool AuthManager::isAcceptableToken(const QString &token)
{
    if (token.isEmpty() || token.size() > maximumTokenLength)
        return false;
    for (QChar c : token) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

QCoro::Task<> AuthManager::loadStoredAuth()
{
    // Without an account record there is no session, and no reason to wake
    // the keyring (which may ask the user to unlock it).
    const auto data = Settings::dataValue(userKey);
    if (!data)
        co_return;
    const auto user = User::decode(*data);
    if (!user)
        co_return;
    QPointer<AuthManager> self(this);
    std::optional<QString> token;
    const std::optional<QString> inSettings = Settings::stringValue(tokenKey);
    if (inSettings && m_secrets->isKeyring()) {
        // Left by an earlier version: it leaves the file only once the
        // keyring holds it.
        const std::optional<QString> failed = co_await m_secrets->write(tokenKey, *inSettings);
        if (!self)
            co_return;
        if (failed) {
            qCWarning(lcAccount).noquote() << "Could not move the session token into the keyring:" << *failed;
        } else {
            Settings::remove(tokenKey);
            qCInfo(lcAccount).noquote() << "Moved the session token from the settings file into the keyring";
        }
        token = inSettings;
    } else {
        const SecretStore::Read read = co_await m_secrets->read(tokenKey);
        if (!self)
            co_return;
        if (!read.error.isEmpty())
            qCWarning(lcAccount).noquote() << "Could not read the session token:" << read.error;
        token = read.value;
    }
    if (!token)
        co_return;
    m_token = token;
    setCurrentUser(*user);
    setIsAuthenticated(true);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self)
                self->verifySession();
        },
        Qt::QueuedConnection);
}

std::optional<QUrl> AuthManager::endpoint(const QString &path) const
{
    const QUrl url(m_baseURL + path, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

QNetworkReply *AuthManager::get(const QUrl &url, const QString &token)
{
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    request.setTransferTimeout(int(m_requestTimeout.count()));
    return m_network.get(request);
}

QCoro::Task<> AuthManager::verifySession()
{
    const auto token = m_token;
    // A stored token that could not have come from us is as good as none.
    if (!token || !isAcceptableToken(*token)) {
        clearSession();
        co_return;
    }
    const auto url = endpoint(QStringLiteral("/api/auth/verify"));
    if (!url)
        co_return;

    QPointer<AuthManager> self(this);
    ReplyPtr reply(get(*url, *token));
    co_await reply.get();
    if (!self || m_destroying)
        co_return;

    // The user may have signed out, or in again with another account, while
    // the check was under way; its answer is about a session that is gone.
    if (m_token != token)
        co_return;

    const auto status = httpStatus(*reply);
    if (!status) {
        if (reply->error() != QNetworkReply::NoError)
            qCWarning(lcApp).noquote()
                << QStringLiteral("⚠️ [Auth] Session verification failed: ") + describeFailure(*reply);
        co_return;
    }
    // Only the server's word that the session is gone ends it; a server in
    // trouble (5xx, a proxy's error page) says nothing about the session,
    // which is checked again at the next start.
    if (*status == 401 || *status == 403) {
        clearSession();
        co_return;
    }
    if (*status != 200) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("⚠️ [Auth] Session verification failed: HTTP %1").arg(*status);
        co_return;
    }
    const auto response = AuthResponse::decode(reply->readAll());
    if (!response)
        co_return;
    setCurrentUser(response->user);
    Settings::setData(userKey, response->user.encode());
}

void AuthManager::handleDeepLink(const QUrl &url)
{
    qCInfo(lcApp).noquote() << QStringLiteral("🔗 [Auth] Received deep link: ") + redactedUrlText(url);
    const QString host = url.host();
    if (host.isEmpty())
        return;
    if (host != QLatin1String("callback")) {
        qCWarning(lcApp).noquote() << QStringLiteral("⚠️ [Auth] Unknown deep link host: ") + host;
        return;
    }
    handleAuthCallback(url).then([](bool succeeded) {
        if (succeeded)
            qCInfo(lcApp).noquote() << QStringLiteral("✅ [Auth] OAuth callback successful");
    });
}

AuthManager::CallbackRequest AuthManager::parseCallback(const QUrl &url)
{
    if (!url.isValid() || !url.hasQuery())
        return { std::nullopt, QStringLiteral("Invalid callback URL"), QString() };
    const QUrlQuery query(url);
    const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    const QString token = query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
    if (!token.isEmpty()) {
        if (!isAcceptableToken(token))
            return { std::nullopt, QStringLiteral("No authentication token received"), state };
        return { token, QString(), state };
    }
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (!error.isEmpty())
        return { std::nullopt, error, state };
    return { std::nullopt, QStringLiteral("No authentication token received"), state };
}

QCoro::Task<bool> AuthManager::handleAuthCallback(QUrl url)
{
    const CallbackRequest request = parseCallback(url);
    const bool unreadable = !url.isValid() || !url.hasQuery();
    // Anything the link says, an error text included, is believed only when
    // it answers a sign-in started here.
    if (!unreadable && !takeSignInState(request.state)) {
        qCWarning(lcApp).noquote() << QStringLiteral(
            "⚠️ [Auth] Refused a sign-in callback that this program did not ask for");
        setErrorMessage(tr("Sign-in was not started from this computer"));
        co_return false;
    }
    if (!request.token) {
        setErrorMessage(request.errorMessage);
        co_return false;
    }
    co_return co_await fetchUserInfo(*request.token);
}

QCoro::Task<bool> AuthManager::fetchUserInfo(QString token)
{
    setIsLoading(true);
    if (!isAcceptableToken(token)) {
        setErrorMessage(QStringLiteral("No authentication token received"));
        setIsLoading(false);
        co_return false;
    }
    const auto url = endpoint(QStringLiteral("/api/auth/me"));
    if (!url) {
        setErrorMessage(QStringLiteral("Invalid server URL"));
        setIsLoading(false);
        co_return false;
    }

    QPointer<AuthManager> self(this);
    ReplyPtr reply(get(*url, token));
    co_await reply.get();
    if (!self || m_destroying)
        co_return false;

    const auto status = httpStatus(*reply);
    if (!status && reply->error() != QNetworkReply::NoError) {
        setErrorMessage(QStringLiteral("Network error: ") + describeFailure(*reply));
        setIsLoading(false);
        co_return false;
    }
    if (status != 200) {
        setErrorMessage(QStringLiteral("Failed to fetch user data"));
        setIsLoading(false);
        co_return false;
    }
    QString decodeError;
    const auto user = User::decode(reply->readAll(), &decodeError);
    if (!user) {
        setErrorMessage(QStringLiteral("Network error: ") + decodeError);
        setIsLoading(false);
        co_return false;
    }
    saveAuth(*user, token);
    setIsLoading(false);
    co_return true;
}

void AuthManager::saveAuth(const User &user, const QString &token)
{
    m_token = token;
    m_secrets->write(tokenKey, token).then([](const std::optional<QString> &failed) {
        if (failed)
            qCWarning(lcAccount).noquote() << "Could not store the session token:" << *failed;
    });
    Settings::setData(userKey, user.encode());
    setCurrentUser(user);
    setIsAuthenticated(true);
}

QString AuthManager::beginSignIn()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    const QString state
        = QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));

    const qint64 nowMs = now().toMSecsSinceEpoch();
    const qint64 lifetimeMs = std::chrono::milliseconds(signInStateLifetime).count();
    QJsonObject states = storedSignInStates();
    for (const QString &key : states.keys()) {
        if (nowMs - qint64(states.value(key).toDouble()) > lifetimeMs)
            states.remove(key);
    }
    // Someone clicking "Sign In" over and over keeps the newest few.
    while (states.size() >= maximumPendingSignIns) {
        QString oldest = states.keys().first();
        for (const QString &key : states.keys()) {
            if (states.value(key).toDouble() < states.value(oldest).toDouble())
                oldest = key;
        }
        states.remove(oldest);
    }
    states.insert(state, double(nowMs));
    Settings::setData(signInStatesKey, QJsonDocument(states).toJson(QJsonDocument::Compact));
    return m_baseURL + QStringLiteral("/auth/login?returnTo=%2Fauth%2Faccount&state=") + state;
}

bool AuthManager::takeSignInState(const QString &state)
{
    if (state.isEmpty())
        return false;
    QJsonObject states = storedSignInStates();
    if (!states.contains(state))
        return false;
    const qint64 issued = qint64(states.value(state).toDouble());
    states.remove(state);
    Settings::setData(signInStatesKey, QJsonDocument(states).toJson(QJsonDocument::Compact));
    const qint64 age = now().toMSecsSinceEpoch() - issued;
    return age >= 0 && age <= std::chrono::milliseconds(signInStateLifetime).count();
}

AuthManager::~AuthManager()
{
    // A request still under way would keep its coroutine suspended for good
    // once the network manager took its reply along: end it while the
    // coroutine can still finish.
    m_destroying = true;
    for (QNetworkReply *reply : m_network.findChildren<QNetworkReply *>())
        reply->abort();
}

void AuthManager::signOut()
{
    const auto token = m_token;
    clearSession();
    if (token && isAcceptableToken(*token))
        revokeOnServer(*token);
}

QCoro::Task<> AuthManager::revokeOnServer(QString token)
{
    const auto url = endpoint(QStringLiteral("/api/auth/logout"));
    if (!url)
        co_return;
    QNetworkRequest request(*url);
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    request.setTransferTimeout(int(m_requestTimeout.count()));
    QPointer<AuthManager> self(this);
    ReplyPtr reply(m_network.post(request, QByteArray()));
    co_await reply.get();
    if (!self || m_destroying)
        co_return;
    const auto status = httpStatus(*reply);
    // 401: the server had already forgotten the token, which is what we asked for.
    if (!status || (*status != 200 && *status != 401))
        qCWarning(lcApp).noquote() << QStringLiteral(
                                          "⚠️ [Auth] The server could not revoke the session: ")
                + (status ? QStringLiteral("HTTP %1").arg(*status) : describeFailure(*reply));
}

void AuthManager::clearSession()
{
    m_token.reset();
    m_secrets->remove(tokenKey).then([](const std::optional<QString> &failed) {
        if (failed)
            qCWarning(lcAccount).noquote() << "Could not remove the session token:" << *failed;
    });
    // An earlier version's copy goes too.
    Settings::remove(tokenKey);
    Settings::remove(userKey);
    setCurrentUser(std::nullopt);
    setIsAuthenticated(false);
}

void AuthManager::setIsAuthenticated(bool value)
{
    if (m_isAuthenticated == value)
        return;
    m_isAuthenticated = value;
    emit isAuthenticatedChanged(value);
}

void AuthManager::setCurrentUser(const std::optional<User> &value)
{
    if (m_currentUser == value)
        return;
    m_currentUser = value;
    emit currentUserChanged(value);
}

void AuthManager::setIsLoading(bool value)
{
    if (m_isLoading == value)
        return;
    m_isLoading = value;
    emit isLoadingChanged(value);
}

void AuthManager::setErrorMessage(const QString &value)
{
    if (m_errorMessage == value && m_errorMessage.isNull() == value.isNull())
        return;
    m_errorMessage = value;
    emit errorMessageChanged(value);
}
