#include "AuthEndpoints.h"

#include "common/Log.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QUrl>
#include <QUrlQuery>

using StatusCode = QHttpServerResponse::StatusCode;

const QByteArray AuthEndpoints::cookieName = QByteArrayLiteral("tellwind_session");

namespace {

const QString defaultReturnPath = QStringLiteral("/auth/account");
// Seconds between the Unix epoch and 2001-01-01T00:00:00Z, the epoch of the
// program's `createdAt`.
constexpr qint64 referenceDateOffset = 978307200;

QJsonObject userJson(const AccountStore::Account &account)
{
    QJsonObject user{{QStringLiteral("id"), account.id},
                     {QStringLiteral("email"), account.email},
                     {QStringLiteral("provider"), account.provider},
                     {QStringLiteral("createdAt"), double(account.createdAt.toSecsSinceEpoch() - referenceDateOffset)}};
    if (account.name)
        user.insert(QStringLiteral("name"), *account.name);
    return user;
}

QHttpServerResponse jsonResponse(const QJsonObject &object, StatusCode status = StatusCode::Ok)
{
    QHttpServerResponse response(QByteArrayLiteral("application/json"),
                                 QJsonDocument(object).toJson(QJsonDocument::Compact), status);
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    return response;
}

QHttpServerResponse unauthorized(const QString &message)
{
    QHttpServerResponse response = jsonResponse(
        {{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("error"), message}},
        StatusCode::Unauthorized);
    response.setHeader(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer realm=\"tellwind\""));
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
                                         "form-action 'self' tellwind:; frame-ancestors 'none'"));
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
    const QString document = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
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
    QHttpServerResponse response(QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(), StatusCode::SeeOther);
    response.setHeader(QByteArrayLiteral("Location"), location);
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    return response;
}

QByteArray callbackLocation(const QString &name, const QString &value)
{
    QUrl url(QStringLiteral("tellwind://callback"));
    QUrlQuery query;
    query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url.toEncoded();
}

QString loginForm(const QString &returnTo, const QString &email, const QString &error,
                  const std::optional<AccountStore::Account> &signedInAs)
{
    QString body = QStringLiteral("<h1>Sign in to Tellwind</h1>"
                                  "<p class=\"lead\">Use your email address and password, or create an account."
                                  "</p>");
    if (!error.isEmpty())
        body += QStringLiteral("<div class=\"error\" role=\"alert\">%1</div>").arg(html(error));
    if (signedInAs) {
        body += QStringLiteral("<form class=\"notice\" method=\"post\" action=\"/auth/login\">"
                               "You are signed in as <strong>%1</strong>."
                               "<input type=\"hidden\" name=\"returnTo\" value=\"%2\">"
                               "<div class=\"actions\"><button class=\"primary\" name=\"action\" "
                               "value=\"continue\">Open Tellwind</button></div></form>")
                    .arg(html(signedInAs->email), html(returnTo));
    }
    body += QStringLiteral(
                "<form method=\"post\" action=\"/auth/login\">"
                "<input type=\"hidden\" name=\"returnTo\" value=\"%1\">"
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
                .arg(html(returnTo), html(email));
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

} // namespace

AuthEndpoints::AuthEndpoints(AccountStore &store) : m_store(store) {}

void AuthEndpoints::registerRoutes(QHttpServer &server)
{
    using Method = QHttpServerRequest::Method;
    using Handler = QHttpServerResponse (AuthEndpoints::*)(const QHttpServerRequest &);
    const auto route = [this, &server](const char *path, Method method, Handler handler) {
        server.route(QString::fromLatin1(path), method,
                     [this, handler](const QHttpServerRequest &request) { return (this->*handler)(request); });
    };
    route("/auth/login", Method::Get, &AuthEndpoints::loginPage);
    route("/auth/login", Method::Post, &AuthEndpoints::submitLogin);
    route("/auth/account", Method::Get, &AuthEndpoints::accountPage);
    route("/auth/logout", Method::Post, &AuthEndpoints::submitLogout);
    route("/api/auth/me", Method::Get, &AuthEndpoints::me);
    route("/api/auth/verify", Method::Get, &AuthEndpoints::verify);
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

std::optional<AccountStore::Account> AuthEndpoints::browserAccount(const QHttpServerRequest &request)
{
    const QByteArray cookies = header(request, QByteArrayLiteral("Cookie"));
    for (const QByteArray &cookie : cookies.split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (!trimmed.startsWith(cookieName + '='))
            continue;
        const QString token = QString::fromLatin1(trimmed.mid(cookieName.size() + 1));
        const auto lookup = m_store.findSession(token, AccountStore::SessionKind::browser);
        if (lookup.state == AccountStore::SessionState::valid)
            return lookup.account;
    }
    return std::nullopt;
}

QHttpServerResponse AuthEndpoints::loginPage(const QHttpServerRequest &request)
{
    const QString returnTo = safeReturnPath(request.query().queryItemValue(QStringLiteral("returnTo"),
                                                                           QUrl::FullyDecoded));
    return page(QStringLiteral("Sign in to Tellwind"), loginForm(returnTo, QString(), QString(),
                                                                 browserAccount(request)));
}

QHttpServerResponse AuthEndpoints::signedIn(const AccountStore::Account &account)
{
    const auto appToken = m_store.createSession(account.id, AccountStore::SessionKind::app);
    const auto browserToken = m_store.createSession(account.id, AccountStore::SessionKind::browser);
    if (!appToken || !browserToken)
        return page(QStringLiteral("Sign in to Tellwind"),
                    loginForm(defaultReturnPath, account.email,
                              AccountStore::describe(AccountStore::Failure::storage), std::nullopt),
                    StatusCode::ServiceUnavailable);
    logLine(QStringLiteral("✅ [Auth] Signed in account %1").arg(account.id));
    QHttpServerResponse response = redirect(callbackLocation(QStringLiteral("token"), *appToken));
    response.addHeader(QByteArrayLiteral("Set-Cookie"),
                       cookieName + '=' + browserToken->toLatin1() + "; Path=/auth; Max-Age="
                           + QByteArray::number(AccountStore::sessionLifetimeSeconds)
                           + "; HttpOnly; SameSite=Lax");
    return response;
}

QHttpServerResponse AuthEndpoints::submitLogin(const QHttpServerRequest &request)
{
    const QString title = QStringLiteral("Sign in to Tellwind");
    const auto retry = [&](const QString &email, const QString &error, StatusCode status,
                           const QString &returnTo = defaultReturnPath) {
        return page(title, loginForm(returnTo, email, error, std::nullopt), status);
    };

    if (request.body().size() > maximumFormBytes)
        return retry(QString(), QStringLiteral("The form is too large."), StatusCode::PayloadTooLarge);
    const QByteArray contentType = header(request, QByteArrayLiteral("Content-Type")).split(';').first().trimmed();
    if (contentType.compare("application/x-www-form-urlencoded", Qt::CaseInsensitive) != 0)
        return retry(QString(), QStringLiteral("The form was not sent as a web form."),
                     StatusCode::UnsupportedMediaType);
    const auto form = parseForm(request.body());
    if (!form)
        return retry(QString(), QStringLiteral("The form contains text that is not valid UTF-8."),
                     StatusCode::BadRequest);

    const QString returnTo = safeReturnPath(form->value(QStringLiteral("returnTo")));
    const QString action = form->value(QStringLiteral("action"));
    const QString email = form->value(QStringLiteral("email"));
    const QString password = form->value(QStringLiteral("password"));
    // Echoed back into the form only when it is plausible text.
    const QString shownEmail = email.size() <= AccountStore::maximumEmailLength ? email : QString();

    if (action == QLatin1String("cancel"))
        return redirect(callbackLocation(QStringLiteral("error"), QStringLiteral("Sign-in was cancelled")));
    if (action == QLatin1String("continue")) {
        const auto account = browserAccount(request);
        if (!account)
            return retry(QString(), QStringLiteral("Your browser session has ended. Sign in again."),
                         StatusCode::Unauthorized, returnTo);
        return signedIn(*account);
    }
    if (action != QLatin1String("signin") && action != QLatin1String("create"))
        return retry(shownEmail, QStringLiteral("Choose Sign In or Create Account."), StatusCode::BadRequest,
                     returnTo);

    const auto result = action == QLatin1String("create")
        ? m_store.createAccount(email, password, form->value(QStringLiteral("name")))
        : m_store.authenticate(email, password);
    if (const auto *failure = std::get_if<AccountStore::Failure>(&result))
        return retry(shownEmail, AccountStore::describe(*failure), statusFor(*failure), returnTo);
    const auto &account = std::get<AccountStore::Account>(result);
    if (action == QLatin1String("create"))
        logLine(QStringLiteral("✅ [Auth] Created account %1").arg(account.id));
    return signedIn(account);
}

QHttpServerResponse AuthEndpoints::accountPage(const QHttpServerRequest &request)
{
    const auto account = browserAccount(request);
    if (!account)
        return redirect(QByteArrayLiteral("/auth/login?returnTo=%2Fauth%2Faccount"));
    QString details = QStringLiteral("<dt>Email</dt><dd>%1</dd>").arg(html(account->email));
    if (account->name)
        details += QStringLiteral("<dt>Name</dt><dd>%1</dd>").arg(html(*account->name));
    details += QStringLiteral("<dt>Member since</dt><dd>%1</dd>")
                   .arg(html(account->createdAt.date().toString(Qt::ISODate)));
    const QString body = QStringLiteral("<h1>Your Tellwind account</h1>"
                                        "<p class=\"lead\">You are signed in as <strong>%1</strong>.</p>"
                                        "<dl>%2</dl>"
                                        "<form method=\"post\" action=\"/auth/logout\"><div class=\"actions\">"
                                        "<button name=\"action\" value=\"logout\">Sign Out</button>"
                                        "</div></form>")
                             .arg(html(account->email), details);
    return page(QStringLiteral("Your Tellwind account"), body);
}

QHttpServerResponse AuthEndpoints::submitLogout(const QHttpServerRequest &request)
{
    const QByteArray cookies = header(request, QByteArrayLiteral("Cookie"));
    for (const QByteArray &cookie : cookies.split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith(cookieName + '='))
            m_store.deleteSession(QString::fromLatin1(trimmed.mid(cookieName.size() + 1)));
    }
    QHttpServerResponse response = redirect(QByteArrayLiteral("/auth/login"));
    response.addHeader(QByteArrayLiteral("Set-Cookie"),
                       cookieName + "=; Path=/auth; Max-Age=0; HttpOnly; SameSite=Lax");
    return response;
}

AuthEndpoints::Bearer AuthEndpoints::authenticateBearer(const QHttpServerRequest &request)
{
    const QByteArray authorization = header(request, QByteArrayLiteral("Authorization")).trimmed();
    if (authorization.isEmpty())
        return {std::nullopt, {}, QStringLiteral("Missing bearer token")};
    const qsizetype space = authorization.indexOf(' ');
    if (space < 0 || authorization.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return {std::nullopt, {}, QStringLiteral("Missing bearer token")};
    const QByteArray token = authorization.mid(space + 1).trimmed();
    if (token.isEmpty() || token.size() > 4096)
        return {std::nullopt, {}, QStringLiteral("Invalid session token")};
    for (char c : token) {
        if (c < 0x21 || c > 0x7e)
            return {std::nullopt, {}, QStringLiteral("Invalid session token")};
    }
    const auto lookup = m_store.findSession(QString::fromLatin1(token), AccountStore::SessionKind::app);
    switch (lookup.state) {
    case AccountStore::SessionState::valid:
        return {lookup.account, QString::fromLatin1(token), {}};
    case AccountStore::SessionState::expired:
        return {std::nullopt, {}, QStringLiteral("Session expired")};
    case AccountStore::SessionState::unknown:
        break;
    }
    return {std::nullopt, {}, QStringLiteral("Invalid session token")};
}

QHttpServerResponse AuthEndpoints::me(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    if (!bearer.account)
        return unauthorized(bearer.error);
    return jsonResponse(userJson(*bearer.account));
}

QHttpServerResponse AuthEndpoints::verify(const QHttpServerRequest &request)
{
    const Bearer bearer = authenticateBearer(request);
    if (!bearer.account)
        return unauthorized(bearer.error);
    return jsonResponse({{QStringLiteral("user"), userJson(*bearer.account)}, {QStringLiteral("token"), bearer.token}});
}
