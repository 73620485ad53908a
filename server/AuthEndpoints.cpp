#include "AuthEndpoints.h"

#include "Metrics.h"

#include "TellwindServer.h"
#include "common/Log.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <sodium.h>

using StatusCode = QHttpServerResponse::StatusCode;
using namespace std::chrono_literals;

const QByteArray AuthEndpoints::cookieName = QByteArrayLiteral("tellwind_session");
const QByteArray AuthEndpoints::csrfCookieName = QByteArrayLiteral("tellwind_csrf");

namespace
{

const QString defaultReturnPath = QStringLiteral("/auth/account");
const QString pageTitle = QStringLiteral("Sign in to Tellwind");
// Seconds between the Unix epoch and 2001-01-01T00:00:00Z, the epoch of the
// program's `createdAt`.
constexpr qint64 referenceDateOffset = 978307200;
constexpr auto purgeInterval = 10min;

QJsonObject userJson(const AccountStore::Account &account)
{
    QJsonObject user { { QStringLiteral("id"), account.id }, { QStringLiteral("email"), account.email },
        { QStringLiteral("provider"), account.provider },
        { QStringLiteral("createdAt"), double(account.createdAt.toSecsSinceEpoch() - referenceDateOffset) } };
    if (account.name)
        user.insert(QStringLiteral("name"), *account.name);
    return user;
}

QHttpServerResponse jsonResponse(const QJsonObject &object, StatusCode status = StatusCode::Ok)
{
    QHttpServerResponse response(
        QByteArrayLiteral("application/json"), QJsonDocument(object).toJson(QJsonDocument::Compact), status);
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    return response;
}

QHttpServerResponse unauthorized(const QString &message)
{
    QHttpServerResponse response = jsonResponse(
        { { QStringLiteral("type"), QStringLiteral("error") }, { QStringLiteral("error"), message } },
        StatusCode::Unauthorized);
    response.setHeader(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer realm=\"tellwind\""));
    return response;
}

QHttpServerResponse unavailable(const QString &message)
{
    QHttpServerResponse response = jsonResponse(
        { { QStringLiteral("type"), QStringLiteral("error") }, { QStringLiteral("error"), message } },
        StatusCode::ServiceUnavailable);
    response.setHeader(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("5"));
    return response;
}

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray cookie(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare("Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &item : value.split(';')) {
            const QByteArray trimmed = item.trimmed();
            if (trimmed.startsWith(name + '='))
                return trimmed.mid(name.size() + 1);
        }
    }
    return {};
}

QString html(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

void addPageHeaders(QHttpServerResponse &response)
{
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    response.setHeader(QByteArrayLiteral("X-Frame-Options"), QByteArrayLiteral("DENY"));
    response.setHeader(QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer"));
    response.setHeader(QByteArrayLiteral("Content-Security-Policy"),
        QByteArrayLiteral("default-src 'none'; style-src 'unsafe-inline'; "
                          "form-action 'self' tellwind:; frame-ancestors 'none'; base-uri 'none'"));
}

const char pageStyle[] = R"(
body { font: 15px/1.45 system-ui, sans-serif; background: #f3f4f6; color: #1f2328; margin: 0; }
main { max-width: 380px; margin: 64px auto; background: #fff; border-radius: 12px; padding: 28px 32px;
       box-shadow: 0 1px 3px rgba(0,0,0,.12); }
h1 { font-size: 22px; margin: 0 0 6px; }
p.lead { color: #59636e; margin: 0 0 20px; }
label { display: block; font-weight: 600; margin: 14px 0 4px; }
label span { font-weight: 400; color: #59636e; }
input[type=email], input[type=password], input[type=text] { width: 100%; box-sizing: border-box;
       padding: 8px 10px; border: 1px solid #c9ced6; border-radius: 6px; font: inherit; }
.actions { display: flex; gap: 8px; margin-top: 22px; flex-wrap: wrap; }
button { font: inherit; padding: 8px 16px; border-radius: 6px; border: 1px solid #c9ced6; background: #fff;
         cursor: pointer; }
button.primary { background: #2f6feb; border-color: #2f6feb; color: #fff; }
button.link { border: none; background: none; color: #59636e; padding-left: 0; }
.error { background: #fde8e8; color: #8a1c1c; border-radius: 6px; padding: 8px 12px; margin-bottom: 12px; }
.notice { background: #e8f1fd; border-radius: 6px; padding: 10px 12px; margin-bottom: 16px; }
dl { margin: 16px 0; } dt { color: #59636e; font-size: 13px; } dd { margin: 0 0 10px; }
)";

QHttpServerResponse page(const QString &title, const QString &body, StatusCode status = StatusCode::Ok)
{
    const QString document
        = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                         "<meta name=\"viewport\" content=\"width=device-width\">"
                         "<title>%1</title><style>%2</style></head>"
                         "<body><main>%3</main></body></html>\n")
              .arg(html(title), QString::fromLatin1(pageStyle), body);
    QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), document.toUtf8(), status);
    addPageHeaders(response);
    return response;
}

QHttpServerResponse redirect(const QByteArray &location)
{
    QHttpServerResponse response(
        QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(), StatusCode::SeeOther);
    response.setHeader(QByteArrayLiteral("Location"), location);
    addPageHeaders(response);
    return response;
}

// The one place a token leaves the server.
QByteArray callbackLocation(const QString &name, const QString &value, const QString &state)
{
    QUrl url(QStringLiteral("tellwind://callback"));
    QUrlQuery query;
    query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    if (!state.isEmpty())
        query.addQueryItem(QStringLiteral("state"), state);
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url.toEncoded();
}

// A random value in a cookie that the form must repeat: a page on another
// site can make the browser send the cookie, but cannot read it to fill in
// the form. Kept in the browser, so every replica can check it.
struct CsrfToken {
    QString value;
    bool isNew = false;

    static CsrfToken of(const QHttpServerRequest &request)
    {
        const QByteArray existing = cookie(request, AuthEndpoints::csrfCookieName);
        if (existing.size() == 43 && AuthEndpoints::safeState(QString::fromLatin1(existing)).size() == 43)
            return { QString::fromLatin1(existing), false };
        return fresh();
    }
    static CsrfToken fresh()
    {
        unsigned char bytes[32];
        randombytes_buf(bytes, sizeof bytes);
        return { QString::fromLatin1(
                     QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes)
                         .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)),
            true };
    }
    void attachTo(QHttpServerResponse &response) const
    {
        if (isNew)
            response.addHeader(QByteArrayLiteral("Set-Cookie"),
                AuthEndpoints::csrfCookieName + '=' + value.toLatin1()
                    + "; Path=/auth; HttpOnly; SameSite=Strict");
    }
    bool matches(const QString &submitted) const
    {
        const QByteArray a = value.toLatin1(), b = submitted.toLatin1();
        return !isNew && a.size() == b.size()
            && sodium_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
    }
};

// Browsers name the page a form was sent from; a form on another site is
// refused even before its token is looked at.
bool isSameOrigin(const QHttpServerRequest &request)
{
    const QByteArray site = header(request, QByteArrayLiteral("Sec-Fetch-Site"));
    if (!site.isEmpty() && site != "same-origin" && site != "none")
        return false;
    const QByteArray origin = header(request, QByteArrayLiteral("Origin"));
    if (origin.isEmpty())
        return true;
    const QUrl url(QString::fromLatin1(origin), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return false;
    return url.authority(QUrl::FullyEncoded)
               .compare(QString::fromLatin1(header(request, "Host")), Qt::CaseInsensitive)
        == 0;
}

struct FormContext {
    QString returnTo = defaultReturnPath;
    QString state;
    QString csrf;
};

QString hidden(const FormContext &context)
{
    QString fields = QStringLiteral("<input type=\"hidden\" name=\"returnTo\" value=\"%1\">"
                                    "<input type=\"hidden\" name=\"csrf\" value=\"%2\">")
                         .arg(html(context.returnTo), html(context.csrf));
    if (!context.state.isEmpty())
        fields
            += QStringLiteral("<input type=\"hidden\" name=\"state\" value=\"%1\">").arg(html(context.state));
    return fields;
}

QString loginForm(const FormContext &context, const QString &email, const QString &error,
    const std::optional<AccountStore::Account> &signedInAs)
{
    QString body
        = QStringLiteral("<h1>Sign in to Tellwind</h1>"
                         "<p class=\"lead\">Use your email address and password, or create an account."
                         "</p>");
    if (!error.isEmpty())
        body += QStringLiteral("<div class=\"error\" role=\"alert\">%1</div>").arg(html(error));
    if (signedInAs) {
        body += QStringLiteral("<form class=\"notice\" method=\"post\" action=\"/auth/login\">"
                               "You are signed in as <strong>%1</strong>.%2"
                               "<div class=\"actions\"><button class=\"primary\" name=\"action\" "
                               "value=\"continue\">Open Tellwind</button></div></form>")
                    .arg(html(signedInAs->email), hidden(context));
    }
    body += QStringLiteral(
        "<form method=\"post\" action=\"/auth/login\">%1"
        "<label for=\"email\">Email</label>"
        "<input id=\"email\" name=\"email\" type=\"email\" autocomplete=\"username\" maxlength=\"254\" "
        "required value=\"%2\">"
        "<label for=\"password\">Password</label>"
        "<input id=\"password\" name=\"password\" type=\"password\" autocomplete=\"current-password\" "
        "maxlength=\"1024\" required>"
        "<label for=\"name\">Name <span>(only for a new account, optional)</span></label>"
        "<input id=\"name\" name=\"name\" type=\"text\" autocomplete=\"name\" maxlength=\"100\">"
        "<div class=\"actions\">"
        "<button class=\"primary\" name=\"action\" value=\"signin\">Sign In</button>"
        "<button name=\"action\" value=\"create\">Create Account</button>"
        "<button class=\"link\" name=\"action\" value=\"cancel\" formnovalidate>Cancel</button>"
        "</div></form>")
                .arg(hidden(context), html(email));
    return body;
}

StatusCode statusFor(AccountStore::Failure failure)
{
    switch (failure) {
    case AccountStore::Failure::invalidEmail:
    case AccountStore::Failure::invalidPassword:
    case AccountStore::Failure::invalidName:
        return StatusCode::BadRequest;
    case AccountStore::Failure::emailTaken:
        return StatusCode::Conflict;
    case AccountStore::Failure::wrongCredentials:
        return StatusCode::Unauthorized;
    case AccountStore::Failure::storage:
        return StatusCode::ServiceUnavailable;
    }
    return StatusCode::BadRequest;
}

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

AuthEndpoints::AuthEndpoints(AccountStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_purge.setInterval(purgeInterval);
    connect(&m_purge, &QTimer::timeout, this, [this] { m_store.purgeExpired(); });
    m_purge.start();
}

void AuthEndpoints::registerRoutes(QHttpServer &server)
{
    using Method = QHttpServerRequest::Method;
    using Handler = QHttpServerResponse (AuthEndpoints::*)(const QHttpServerRequest &);
    const auto route = [this, &server](const char *path, Method method, Handler handler) {
        server.route(QString::fromLatin1(path), method, [this, handler](const QHttpServerRequest &request) {
            QHttpServerResponse response = (this->*handler)(request);
            if (isHttps(request))
                secureCookies(response);
            return response;
        });
    };
    route("/auth/login", Method::Get, &AuthEndpoints::loginPage);
    server.route(QStringLiteral("/auth/login"), Method::Post,
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            submitLogin(request, std::move(responder));
        });
    route("/auth/account", Method::Get, &AuthEndpoints::accountPage);
    route("/auth/logout", Method::Post, &AuthEndpoints::submitLogout);
    route("/api/auth/me", Method::Get, &AuthEndpoints::me);
    route("/api/auth/verify", Method::Get, &AuthEndpoints::verify);
    route("/api/auth/logout", Method::Post, &AuthEndpoints::revoke);
}

std::optional<QHash<QString, QString>> AuthEndpoints::parseForm(const QByteArray &body)
{
    QHash<QString, QString> fields;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        QByteArray name = equals < 0 ? pair : pair.left(equals);
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        const auto decodedName = strictUtf8(QByteArray::fromPercentEncoding(name));
        const auto decodedValue = strictUtf8(QByteArray::fromPercentEncoding(value));
        if (!decodedName || !decodedValue)
            return std::nullopt;
        if (!fields.contains(*decodedName))
            fields.insert(*decodedName, *decodedValue);
    }
    return fields;
}

QString AuthEndpoints::safeReturnPath(const QString &requested)
{
    // "//host" and "/\host" are other sites to a browser.
    if (!requested.startsWith(QLatin1Char('/')) || requested.startsWith(QStringLiteral("//"))
        || requested.contains(QLatin1Char('\\')) || requested.size() > 512)
        return defaultReturnPath;
    for (QChar c : requested) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return defaultReturnPath;
    }
    const QUrl url(requested, QUrl::StrictMode);
    if (!url.isValid() || !url.isRelative() || !url.host().isEmpty())
        return defaultReturnPath;
    return requested;
}

QString AuthEndpoints::safeState(const QString &requested)
{
    if (requested.size() < 16 || requested.size() > 128)
        return {};
    for (QChar c : requested) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return {};
    }
    return requested;
}

bool AuthEndpoints::isTrustedProxy(const QHostAddress &address) const
{
    for (const auto &subnet : m_trustedProxies) {
        if (address.isInSubnet(subnet))
            return true;
    }
    return false;
}

QHostAddress AuthEndpoints::clientAddress(const QHttpServerRequest &request) const
{
    const QHostAddress peer = plainAddress(request.remoteAddress());
    if (!isTrustedProxy(peer))
        return peer;
    // Each proxy appends the address it was reached from, so only the right
    // end of the list is trustworthy: anything further left the client wrote.
    QByteArrayList hops;
    for (const auto &[key, value] : request.headers()) {
        if (key.compare("X-Forwarded-For", Qt::CaseInsensitive) == 0)
            hops += value.split(',');
    }
    for (auto hop = hops.crbegin(); hop != hops.crend(); ++hop) {
        QHostAddress address;
        if (!address.setAddress(QString::fromLatin1(hop->trimmed())))
            break;
        address = plainAddress(address);
        if (!isTrustedProxy(address))
            return address;
    }
    return peer;
}

AccountStore::SessionLookup AuthEndpoints::browserSession(const QHttpServerRequest &request)
{
    const QByteArray token = cookie(request, cookieName);
    if (token.isEmpty())
        return {};
    return m_store.findSession(QString::fromLatin1(token), AccountStore::SessionKind::browser);
}

QHttpServerResponse AuthEndpoints::loginPage(const QHttpServerRequest &request)
{
    const CsrfToken csrf = CsrfToken::of(request);
    const FormContext context { safeReturnPath(request.query().queryItemValue(
                                    QStringLiteral("returnTo"), QUrl::FullyDecoded)),
        safeState(request.query().queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded)), csrf.value };
    QHttpServerResponse response
        = page(pageTitle, loginForm(context, QString(), QString(), browserSession(request).account));
    csrf.attachTo(response);
    return response;
}

void AuthEndpoints::submitLogin(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    // The answer may come after a password check on another thread; by then
    // the request is gone and the connection may be.
    const QByteArray method = TellwindServer::methodName(request.method());
    const QByteArray path = request.url().path().toUtf8();
    const qint64 bytes = request.body().size();
    auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = pending->socket();
    const bool https = isHttps(request);
    const auto reply = [pending, socket, method, path, bytes, https](QHttpServerResponse response) {
        if (https)
            secureCookies(response);
        TellwindServer::logRequest(method, path, int(response.statusCode()), bytes);
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            response.write(std::move(*pending));
    };

    CsrfToken csrf = CsrfToken::of(request);
    FormContext context { defaultReturnPath, QString(), csrf.value };
    const auto retry = [csrf, reply](const FormContext &context, const QString &email, const QString &error,
                           StatusCode status) {
        QHttpServerResponse response
            = page(pageTitle, loginForm(context, email, error, std::nullopt), status);
        csrf.attachTo(response);
        return response;
    };

    if (request.body().size() > maximumFormBytes)
        return reply(
            retry(context, QString(), QStringLiteral("The form is too large."), StatusCode::PayloadTooLarge));
    const QByteArray contentType
        = header(request, QByteArrayLiteral("Content-Type")).split(';').first().trimmed();
    if (contentType.compare("application/x-www-form-urlencoded", Qt::CaseInsensitive) != 0)
        return reply(retry(context, QString(), QStringLiteral("The form was not sent as a web form."),
            StatusCode::UnsupportedMediaType));
    const auto form = parseForm(request.body());
    if (!form)
        return reply(retry(context, QString(),
            QStringLiteral("The form contains text that is not valid UTF-8."), StatusCode::BadRequest));

    context.returnTo = safeReturnPath(form->value(QStringLiteral("returnTo")));
    context.state = safeState(form->value(QStringLiteral("state")));
    const QString action = form->value(QStringLiteral("action"));
    const QString email = form->value(QStringLiteral("email"));
    const QString password = form->value(QStringLiteral("password"));
    // Echoed back into the form only when it is plausible text.
    const QString shownEmail = email.size() <= AccountStore::maximumEmailLength ? email : QString();

    if (!isSameOrigin(request) || !csrf.matches(form->value(QStringLiteral("csrf")))) {
        // A fresh token: whatever the browser held did not do.
        csrf = CsrfToken::fresh();
        context.csrf = csrf.value;
        QHttpServerResponse response = page(pageTitle,
            loginForm(context, shownEmail,
                QStringLiteral("This form has expired or was sent from "
                               "another site. Please try again."),
                std::nullopt),
            StatusCode::Forbidden);
        csrf.attachTo(response);
        return reply(std::move(response));
    }

    if (action == QLatin1String("cancel"))
        return reply(redirect(callbackLocation(
            QStringLiteral("error"), QStringLiteral("Sign-in was cancelled"), context.state)));
    if (action == QLatin1String("continue")) {
        const auto session = browserSession(request);
        if (!session.account)
            return reply(retry(context, QString(),
                QStringLiteral("Your browser session has ended. Sign in again."), StatusCode::Unauthorized));
        const auto token
            = m_store.createSession(session.account->id, AccountStore::SessionKind::app, session.signinId);
        if (!token)
            return reply(retry(context, session.account->email,
                AccountStore::describe(AccountStore::Failure::storage), StatusCode::ServiceUnavailable));
        TellwindServer::logMessage(QStringLiteral("✅ [Auth] Signed in account %1").arg(session.account->id));
        return reply(redirect(callbackLocation(QStringLiteral("token"), *token, context.state)));
    }
    if (action != QLatin1String("signin") && action != QLatin1String("create"))
        return reply(retry(context, shownEmail, QStringLiteral("Choose Sign In or Create Account."),
            StatusCode::BadRequest));

    const auto failed = [retry, reply, context, shownEmail](AccountStore::Failure failure) {
        reply(retry(context, shownEmail, AccountStore::describe(failure), statusFor(failure)));
    };
    const auto busy = [retry, reply, context, shownEmail] {
        QHttpServerResponse response = retry(context, shownEmail,
            QStringLiteral("The server is busy. Try again in "
                           "a moment."),
            StatusCode::ServiceUnavailable);
        response.setHeader(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("1"));
        reply(std::move(response));
    };
    const auto signedIn = [this, reply, failed, context](const AccountStore::Account &account) {
        const auto signIn = m_store.createSignIn(account.id);
        if (!signIn)
            return failed(AccountStore::Failure::storage);
        TellwindServer::logMessage(QStringLiteral("✅ [Auth] Signed in account %1").arg(account.id));
        QHttpServerResponse response
            = redirect(callbackLocation(QStringLiteral("token"), signIn->appToken, context.state));
        response.addHeader(QByteArrayLiteral("Set-Cookie"),
            cookieName + '=' + signIn->browserToken.toLatin1() + "; Path=/auth; Max-Age="
                + QByteArray::number(AccountStore::sessionLifetimeSeconds) + "; HttpOnly; SameSite=Lax");
        reply(std::move(response));
    };

    // Every attempt is counted before its password is hashed, and one address
    // has only so many hashed at once: guesses sent all together are checked
    // no faster than guesses sent one by one.
    const QHostAddress client = clientAddress(request);
    if (m_inFlight.value(client) >= maxAttemptsInFlightPerAddress) {
        QHttpServerResponse response = retry(context, shownEmail,
            QStringLiteral("Too many attempts at once. Try again in a moment."), StatusCode::TooManyRequests);
        response.setHeader(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("1"));
        return reply(std::move(response));
    }
    const auto refuseFor = [this, retry, reply, context, shownEmail, client](qint64 seconds) {
        ++m_lockouts;
        Metrics::global().countLockout();
        TellwindServer::logMessage(
            QStringLiteral("⚠️ [Auth] Too many failed sign-ins from %1").arg(client.toString()));
        QHttpServerResponse response = retry(context, shownEmail,
            QStringLiteral("Too many failed attempts. Try again in %1 seconds.").arg(seconds),
            StatusCode::TooManyRequests);
        response.setHeader(QByteArrayLiteral("Retry-After"), QByteArray::number(seconds));
        reply(std::move(response));
    };
    const int perWindow = m_store.signinLimits().maxFailures;
    const QString fromAddress = QStringLiteral("address:") + client.toString();

    if (action == QLatin1String("create")) {
        const auto checked
            = AccountStore::checkNewAccount(email, password, form->value(QStringLiteral("name")));
        if (const auto *failure = std::get_if<AccountStore::Failure>(&checked))
            return failed(*failure);
        const auto newAccount = std::get<AccountStore::NewAccount>(checked);
        // Creating accounts tells which addresses have one: as slow as guessing.
        const QString creating = QStringLiteral("create:") + client.toString();
        const auto wait = m_store.retryAfterSeconds({ { creating, perWindow } });
        if (!wait)
            return failed(AccountStore::Failure::storage);
        if (*wait > 0)
            return refuseFor(*wait);
        if (m_store.recordSigninAttempt({ creating }).isEmpty())
            return failed(AccountStore::Failure::storage);
        // The hash comes first, so that an address taken is answered no
        // sooner than one that is free.
        ++m_inFlight[client];
        const bool queued
            = m_hasher.hash(password, this, [this, newAccount, failed, signedIn, client](QByteArray hash) {
                  releaseAttempt(client);
                  bool ok = false;
                  if (m_store.emailExists(newAccount.email, &ok) || !ok)
                      return failed(ok ? AccountStore::Failure::emailTaken : AccountStore::Failure::storage);
                  const auto created = m_store.insertAccount(newAccount, hash);
                  if (const auto *failure = std::get_if<AccountStore::Failure>(&created))
                      return failed(*failure);
                  const auto &account = std::get<AccountStore::Account>(created);
                  TellwindServer::logMessage(QStringLiteral("✅ [Auth] Created account %1").arg(account.id));
                  signedIn(account);
              });
        if (!queued) {
            releaseAttempt(client);
            busy();
        }
        return;
    }

    const auto address = AccountStore::normalizedEmail(email);
    if (!address)
        return failed(AccountStore::Failure::invalidEmail);
    if (password.size() > AccountStore::maximumPasswordLength)
        return failed(AccountStore::Failure::wrongCredentials);
    // Guesses are limited per address and per account from that address; the
    // account as a whole has a looser limit, so that someone guessing from
    // elsewhere slows down but does not lock its owner out.
    const QString onAccountFromAddress
        = QStringLiteral("account-from:") + *address + u' ' + client.toString();
    const QString onAccount = QStringLiteral("account:") + *address;
    const auto wait = m_store.retryAfterSeconds({ { fromAddress, perWindow },
        { onAccountFromAddress, perWindow }, { onAccount, perWindow * accountWideFactor } });
    if (!wait)
        return failed(AccountStore::Failure::storage);
    if (*wait > 0)
        return refuseFor(*wait);
    bool ok = false;
    const auto found = m_store.credentials(*address, &ok);
    // A success is forgotten again: many people behind one office router may
    // well sign in at the same moment.
    const QString attempt
        = ok ? m_store.recordSigninAttempt({ fromAddress, onAccountFromAddress, onAccount }) : QString();
    if (attempt.isEmpty())
        return failed(AccountStore::Failure::storage);
    // An unknown address is checked against a decoy hash of the same cost,
    // so that how long the answer takes does not tell which it was.
    const QByteArray hash = found ? found->passwordHash : PasswordHasher::decoyHash();
    ++m_inFlight[client];
    const bool queued = m_hasher.verify(
        hash, password, this, [this, found, attempt, client, failed, signedIn](bool matches) {
            releaseAttempt(client);
            if (!found || !matches) {
                ++m_signinFailures;
                Metrics::global().countSignInFailure();
                return failed(AccountStore::Failure::wrongCredentials);
            }
            m_store.forgetSigninAttempt(attempt);
            signedIn(found->account);
        });
    if (!queued) {
        releaseAttempt(client);
        m_store.forgetSigninAttempt(attempt);
        busy();
    }
}

QHttpServerResponse AuthEndpoints::accountPage(const QHttpServerRequest &request)
{
    const auto account = browserSession(request).account;
    if (!account)
        return redirect(QByteArrayLiteral("/auth/login?returnTo=%2Fauth%2Faccount"));
    const CsrfToken csrf = CsrfToken::of(request);
    QString details = QStringLiteral("<dt>Email</dt><dd>%1</dd>").arg(html(account->email));
    if (account->name)
        details += QStringLiteral("<dt>Name</dt><dd>%1</dd>").arg(html(*account->name));
    details += QStringLiteral("<dt>Member since</dt><dd>%1</dd>")
                   .arg(html(account->createdAt.date().toString(Qt::ISODate)));
    const QString body = QStringLiteral("<h1>Your Tellwind account</h1>"
                                        "<p class=\"lead\">You are signed in as <strong>%1</strong>.</p>"
                                        "<dl>%2</dl>"
                                        "<form method=\"post\" action=\"/auth/logout\">"
                                        "<input type=\"hidden\" name=\"csrf\" value=\"%3\">"
                                        "<div class=\"actions\">"
                                        "<button name=\"action\" value=\"logout\">Sign Out</button>"
                                        "</div></form>")
                             .arg(html(account->email), details, html(csrf.value));
    QHttpServerResponse response = page(QStringLiteral("Your Tellwind account"), body);
    csrf.attachTo(response);
    return response;
}

QHttpServerResponse AuthEndpoints::submitLogout(const QHttpServerRequest &request)
{
    const auto form = parseForm(request.body().left(maximumFormBytes));
    if (!isSameOrigin(request) || !form
        || !CsrfToken::of(request).matches(form->value(QStringLiteral("csrf"))))
        return page(QStringLiteral("Your Tellwind account"),
            QStringLiteral("<div class=\"error\" role=\"alert\">This form has expired or was sent from "
                           "another site.</div><p><a href=\"/auth/account\">Back to your account</a></p>"),
            StatusCode::Forbidden);
    const QByteArray token = cookie(request, cookieName);
    if (!token.isEmpty())
        m_store.endSignIn(QString::fromLatin1(token));
    QHttpServerResponse response = redirect(QByteArrayLiteral("/auth/login"));
    response.addHeader(
        QByteArrayLiteral("Set-Cookie"), cookieName + "=; Path=/auth; Max-Age=0; HttpOnly; SameSite=Lax");
    return response;
}

void AuthEndpoints::secureCookies(QHttpServerResponse &response)
{
    const QList<QByteArray> cookies = response.headers(QByteArrayLiteral("Set-Cookie"));
    if (cookies.isEmpty())
        return;
    response.clearHeader(QByteArrayLiteral("Set-Cookie"));
    for (const QByteArray &cookie : cookies)
        response.addHeader(QByteArrayLiteral("Set-Cookie"), cookie + "; Secure");
}

bool AuthEndpoints::isHttps(const QHttpServerRequest &request) const
{
    if (m_httpsOrigin)
        return true;
    if (!isTrustedProxy(plainAddress(request.remoteAddress())))
        return false;
    // The proxy in front ended TLS and says so; anyone else's word is not taken.
    const QList<QByteArray> protocols = header(request, QByteArrayLiteral("X-Forwarded-Proto")).split(',');
    return protocols.constLast().trimmed().compare("https", Qt::CaseInsensitive) == 0;
}

void AuthEndpoints::releaseAttempt(const QHostAddress &client)
{
    const auto it = m_inFlight.find(client);
    if (it != m_inFlight.end() && --it.value() <= 0)
        m_inFlight.erase(it);
}

int AuthEndpoints::sessionStatus(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    return bearer.account ? 200 : bearer.unavailable ? 503 : 401;
}

AuthEndpoints::Bearer AuthEndpoints::authenticateBearer(const QHttpServerRequest &request)
{
    const QByteArray authorization = header(request, QByteArrayLiteral("Authorization")).trimmed();
    if (authorization.isEmpty())
        return { std::nullopt, {}, QStringLiteral("Missing bearer token") };
    const qsizetype space = authorization.indexOf(' ');
    if (space < 0 || authorization.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return { std::nullopt, {}, QStringLiteral("Missing bearer token") };
    const QByteArray token = authorization.mid(space + 1).trimmed();
    if (token.isEmpty() || token.size() > 4096)
        return { std::nullopt, {}, QStringLiteral("Invalid session token") };
    for (char c : token) {
        if (c < 0x21 || c > 0x7e)
            return { std::nullopt, {}, QStringLiteral("Invalid session token") };
    }
    const auto lookup = m_store.findSession(QString::fromLatin1(token), AccountStore::SessionKind::app);
    switch (lookup.state) {
    case AccountStore::SessionState::valid:
        return { lookup.account, QString::fromLatin1(token), {} };
    case AccountStore::SessionState::expired:
        return { std::nullopt, {}, QStringLiteral("Session expired") };
    case AccountStore::SessionState::unavailable:
        // Not a 401: the program would take that for a session that ended.
        return { std::nullopt, {}, AccountStore::describe(AccountStore::Failure::storage), true };
    case AccountStore::SessionState::unknown:
        break;
    }
    return { std::nullopt, {}, QStringLiteral("Invalid session token") };
}

QHttpServerResponse AuthEndpoints::me(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    if (!bearer.account)
        return bearer.unavailable ? unavailable(bearer.error) : unauthorized(bearer.error);
    return jsonResponse(userJson(*bearer.account));
}

QHttpServerResponse AuthEndpoints::verify(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    if (!bearer.account)
        return bearer.unavailable ? unavailable(bearer.error) : unauthorized(bearer.error);
    return jsonResponse(
        { { QStringLiteral("user"), userJson(*bearer.account) }, { QStringLiteral("token"), bearer.token } });
}

QHttpServerResponse AuthEndpoints::revoke(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    if (!bearer.account)
        return bearer.unavailable ? unavailable(bearer.error) : unauthorized(bearer.error);
    m_store.deleteSession(bearer.token, AccountStore::SessionKind::app);
    TellwindServer::logMessage(QStringLiteral("✅ [Auth] Signed out account %1").arg(bearer.account->id));
    return jsonResponse({ { QStringLiteral("type"), QStringLiteral("signedOut") } });
}
