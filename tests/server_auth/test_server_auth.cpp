// Accounts and sign-in on one server and on two replicas sharing a database:
// tokens, guessing, forged forms and sessions that must end.
#include "AccountStore.h"
#include "AuthEndpoints.h"
#include "TestDatabase.h"
#include "support/RawHttp.h"

#include <QHttpServer>
#include <QUrlQuery>

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <memory>

namespace
{

// One server's sign-in half on a loopback port inside the test process. Two
// of them on one TestDatabase behave like two replicas.
struct AuthReplica {
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<AuthEndpoints> endpoints;
    QHttpServer http;
    quint16 port = 0;

    explicit AuthReplica(const TestDatabase &database)
        : store(database.store())
    {
        if (!store->open())
            return;
        endpoints = std::make_unique<AuthEndpoints>(*store);
        endpoints->registerRoutes(http);
        port = http.listen(QHostAddress::LocalHost, 0);
    }
};

// A browser as far as the sign-in pages care: it keeps their cookies and
// sends the form token the login page handed it.
struct Browser {
    quint16 port;
    QMap<QByteArray, QByteArray> cookies = {};

    QByteArray cookieHeader() const
    {
        QByteArrayList pairs;
        for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
            pairs.append(it.key() + '=' + it.value());
        return pairs.isEmpty() ? QByteArray() : "Cookie: " + pairs.join("; ");
    }
    HttpMessage keep(const HttpMessage &reply)
    {
        for (const auto &[name, value] : reply.headers) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
                continue;
            const QByteArray pair = value.split(';').first();
            const QByteArray cookie = pair.left(pair.indexOf('=')), content = pair.mid(pair.indexOf('=') + 1);
            if (content.isEmpty())
                cookies.remove(cookie);
            else
                cookies.insert(cookie, content);
        }
        return reply;
    }
    HttpMessage get(const QByteArray &target)
    {
        return keep(rawRequest(port, "GET", target, {}, { cookieHeader() }));
    }
    QByteArray csrf()
    {
        if (!cookies.contains(AuthEndpoints::csrfCookieName))
            get("/auth/login");
        return cookies.value(AuthEndpoints::csrfCookieName);
    }
    // The form as the page would send it, token included.
    QByteArray postRequest(
        const QByteArray &path, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        const QByteArray withToken = body + "&csrf=" + csrf(); // before the cookies are read
        return httpRequest("POST", path, withToken,
            QList<QByteArray> { "Content-Type: application/x-www-form-urlencoded", cookieHeader() }
                + headers);
    }
    HttpMessage post(const QByteArray &path, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        return keep(RawExchange(port, postRequest(path, body, headers)).wait());
    }
};

QByteArray bearer(const QString &token)
{
    return "Authorization: Bearer " + token.toLatin1();
}

QByteArray form(const QByteArray &action, const QByteArray &email, const QByteArray &password,
    const QByteArray &name = {})
{
    return formBody({ { "email", email }, { "password", password }, { "name", name }, { "action", action } });
}

HttpMessage getFrom(quint16 port, const QByteArray &target, const QByteArray &header = {})
{
    return rawRequest(port, "GET", target, {}, { header });
}

// The tellwind://callback link the browser is sent to, when it is one.
QUrlQuery callbackOf(const HttpMessage &reply)
{
    const QUrl location(QString::fromLatin1(reply.header("Location")));
    return location.adjusted(QUrl::RemoveQuery) == QUrl("tellwind://callback") ? QUrlQuery(location)
                                                                               : QUrlQuery();
}

QString tokenFrom(const HttpMessage &reply)
{
    return callbackOf(reply).queryItemValue("token");
}

const QByteArray password = "correct horse battery";

// Ada's program token, from a sign-in in `browser`.
QString signIn(Browser &browser)
{
    return tokenFrom(browser.post("/auth/login", form("signin", "ada@example.com", password)));
}

// A server, or two replicas, on one database holding Ada's account, on one
// clock that the test turns, so that replicas see the same minute pass.
struct Rig {
    TestDatabase database;
    AuthReplica first { database };
    std::unique_ptr<AuthReplica> second;
    QDateTime now = QDateTime::currentDateTimeUtc();

    explicit Rig(bool replicated = false)
    {
        if (replicated)
            second = std::make_unique<AuthReplica>(database);
        for (AuthReplica *replica : { &first, second.get() }) {
            if (replica)
                replica->store->setClock([this] { return now; });
        }
        first.store->createAccount("ada@example.com", password);
    }
    int status(const QString &token) { return getFrom(first.port, "/api/auth/me", bearer(token)).status; }
};

QJsonObject errorJson(const QString &message)
{
    return { { "type", "error" }, { "error", message } };
}

} // namespace

class TestServerAuth : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void createAccountSignInAndUseTheToken()
    {
        TestDatabase database;
        AuthReplica server(database);
        Browser browser { server.port };
        const HttpMessage created = browser.post(
            "/auth/login", form("create", "Ada@Example.COM", "analytical engine", "Ada Lovelace"));
        const QString token = tokenFrom(created);
        QVERIFY(!token.isEmpty() && created.header("Set-Cookie").contains("HttpOnly"));

        const QJsonObject user = getFrom(server.port, "/api/auth/me", bearer(token)).json();
        QCOMPARE(
            QStringList({ user["email"].toString(), user["name"].toString(), user["provider"].toString() }),
            QStringList({ "ada@example.com", "Ada Lovelace", "email" }));
        // Seconds since the start of 2001.
        QVERIFY(qAbs(user["createdAt"].toDouble() + 978307200 - QDateTime::currentSecsSinceEpoch()) < 60);
        QCOMPARE(getFrom(server.port, "/api/auth/verify", bearer(token)).json(),
            (QJsonObject { { "user", user }, { "token", token } }));

        // The browser session shows the account; without it the page sends
        // the browser to sign in, and it is no bearer token.
        const HttpMessage account = browser.get("/auth/account");
        QVERIFY(account.body.contains("ada@example.com"));
        for (const HttpMessage &reply : { created, account, browser.get("/auth/login") }) {
            QVERIFY(reply.header("Content-Security-Policy").contains("frame-ancestors 'none'"));
            QCOMPARE(reply.header("X-Frame-Options") + ' ' + reply.header("Referrer-Policy") + ' '
                    + reply.header("Cache-Control"),
                "DENY no-referrer no-store");
            // The token goes to the program in the callback link and nowhere else.
            QByteArray everything = reply.body;
            for (const auto &[name, value] : reply.headers)
                everything += name.compare("Location", Qt::CaseInsensitive) == 0 ? QByteArray() : value;
            QVERIFY(!everything.contains(token.toLatin1()));
        }
        QVERIFY(getFrom(server.port, "/auth/account").header("Location").startsWith("/auth/login"));
        QCOMPARE(
            getFrom(server.port, "/api/auth/me", bearer(browser.cookies.value(AuthEndpoints::cookieName)))
                .status,
            401);

        if (TestDatabase::isPostgres())
            return;
        // Neither the password nor a token is in the owner-only database file.
        QFile file(server.store->databasePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("$argon2id$"));
        QVERIFY(!bytes.contains("analytical engine") && !bytes.contains(token.toLatin1()));
        QCOMPARE(file.permissions() & 0x0077, QFile::Permissions());
    }

    void bearerTokensAreCheckedStrictlyAndExpireAfterThirtyDays()
    {
        Rig rig;
        Browser browser { rig.first.port };
        const QString token = signIn(browser);
        Browser other { rig.first.port };
        const QString untouched = signIn(other);
        const QString missing = QStringLiteral("Missing bearer token"),
                      invalid = QStringLiteral("Invalid session token");
        const QList<QPair<QByteArray, QString>> cases { { "Authorization: Basic YTpi", missing },
            { bearer(token.left(42)), invalid }, { bearer(token.toUpper()), invalid },
            { bearer(token) + "\x01", invalid } };
        for (const auto &[header, message] : cases) {
            const HttpMessage reply = getFrom(rig.first.port, "/api/auth/verify", header);
            QCOMPARE(reply.status, 401);
            QCOMPARE(reply.json(), errorJson(message));
        }
        // The scheme name is case-insensitive.
        QCOMPARE(
            getFrom(rig.first.port, "/api/auth/me", "authorization: bearer " + token.toLatin1()).status, 200);

        const QDateTime start = rig.now;
        rig.now = start.addDays(29);
        QCOMPARE(rig.status(token), 200);
        rig.now = start.addDays(30).addSecs(1);
        QCOMPARE(
            getFrom(rig.first.port, "/api/auth/verify", bearer(token)).json(), errorJson("Session expired"));
        // Gone for good, even if the clock goes back.
        rig.now = start;
        QCOMPARE(rig.status(token), 401);
        // Purged, a session no longer says why it fails.
        rig.now = start.addDays(31);
        rig.first.store->purgeExpired();
        QCOMPARE(getFrom(rig.first.port, "/api/auth/me", bearer(untouched)).json(),
            errorJson("Invalid session token"));
    }

    void badFormsGetAClearRefusalAndChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        const QByteArray web = "Content-Type: application/x-www-form-urlencoded";
        QTest::addRow("address taken") << form("create", "Ada@example.com", "another password") << 409 << web;
        QTest::addRow("oversized form")
            << form("create", "big@example.com", QByteArray(20000, 'a')) << 413 << web;
        QTest::addRow("not a web form") << QByteArray(R"({"email":"json@example.com"})") << 415
                                        << QByteArray("Content-Type: application/json");
        QTest::addRow("control character in the name")
            << form("create", "f@example.com", "password1", "Eve\x1b[31m") << 400 << web;
    }

    void badFormsGetAClearRefusalAndChangeNothing()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        Rig rig;
        Browser browser { rig.first.port };
        const QByteArray withToken = body + "&csrf=" + browser.csrf();
        const HttpMessage reply = rawRequest(
            rig.first.port, "POST", "/auth/login", withToken, { contentType, browser.cookieHeader() });
        QCOMPARE(reply.status, status);
        QVERIFY(reply.header("Location").isEmpty() && reply.header("Set-Cookie").isEmpty());
        QVERIFY(reply.body.contains("class=\"error\""));
        QCOMPARE(rig.first.store->accountCount(), 1);
    }

    void pagesEscapeWhatComesBack()
    {
        Rig rig;
        Browser browser { rig.first.port };
        const HttpMessage wrong = browser.post("/auth/login", form("signin", "ada@example.com", "x"));
        QVERIFY(wrong.body.contains("The email address or the password is not correct."));
        QVERIFY(wrong.body.contains("value=\"ada@example.com\"")); // filled in again
        const HttpMessage reflected
            = browser.post("/auth/login", form("signin", "<script>alert(1)</script>", "x"));
        QVERIFY(!reflected.body.contains("<script>") && reflected.body.contains("&lt;script&gt;"));
        // The return path cannot point at another site.
        for (const QByteArray &target : QByteArrayList { "//evil.example/", "/\\evil.example" })
            QVERIFY(browser.get("/auth/login?returnTo=" + target.toPercentEncoding())
                        .body.contains("name=\"returnTo\" value=\"/auth/account\""));
        // Cancelling hands the program an error instead of a token.
        QCOMPARE(browser.post("/auth/login", "action=cancel").header("Location"),
            QByteArray("tellwind://callback?error=Sign-in%20was%20cancelled"));
    }

    void formsFromElsewhereAreRefused_data()
    {
        QTest::addColumn<QByteArray>("csrf"); // "page": the one the page handed out
        QTest::addColumn<bool>("sendCookie");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::addRow("from the page") << QByteArray("page") << true << QByteArray() << 303;
        QTest::addRow("no token") << QByteArray() << true << QByteArray() << 403;
        QTest::addRow("token without its cookie") << QByteArray("page") << false << QByteArray() << 403;
        QTest::addRow("another site")
            << QByteArray("page") << true << QByteArray("Origin: https://evil.example") << 403;
        QTest::addRow("cross-site fetch")
            << QByteArray("page") << true << QByteArray("Sec-Fetch-Site: cross-site") << 403;
    }

    void formsFromElsewhereAreRefused()
    {
        QFETCH(QByteArray, csrf);
        QFETCH(bool, sendCookie);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        Rig rig;
        Browser browser { rig.first.port };
        const HttpMessage page = browser.get("/auth/login");
        const QByteArray token = browser.cookies.value(AuthEndpoints::csrfCookieName);
        QVERIFY(page.body.contains("name=\"csrf\" value=\"" + token + "\""));
        const QByteArray body
            = form("signin", "ada@example.com", password) + "&csrf=" + (csrf == "page" ? token : csrf);
        const HttpMessage reply = rawRequest(rig.first.port, "POST", "/auth/login", body,
            { "Content-Type: application/x-www-form-urlencoded",
                sendCookie ? browser.cookieHeader() : QByteArray(), header });
        QCOMPARE(reply.status, status);
        QCOMPARE(!tokenFrom(reply).isEmpty(), status == 303);
        if (status == 403) {
            // A fresh token to try again with, and no session.
            QVERIFY(reply.header("Set-Cookie").startsWith(AuthEndpoints::csrfCookieName + '='));
            QVERIFY(reply.body.contains("name=\"csrf\""));
        }
    }

    void failedSigninsAreLimitedOnEveryReplica_data()
    {
        QTest::addColumn<bool>("trustProxy");
        QTest::addColumn<bool>("sameAccount");
        QTest::addColumn<bool>("sameAddress");
        // The sixth attempt uses the right password: it is refused all the same.
        QTest::addRow("one account from many addresses") << true << true << false;
        QTest::addRow("one address on many accounts") << true << false << true;
        QTest::addRow("forwarded-for from a connection that is no proxy") << false << false << false;
    }

    void failedSigninsAreLimitedOnEveryReplica()
    {
        QFETCH(bool, trustProxy);
        QFETCH(bool, sameAccount);
        QFETCH(bool, sameAddress);
        Rig replicas(true);
        for (AuthReplica *replica : { &replicas.first, replicas.second.get() })
            replica->endpoints->setTrustedProxies(trustProxy
                    ? QList<QPair<QHostAddress, int>> { { QHostAddress(QHostAddress::LocalHost), 32 } }
                    : QList<QPair<QHostAddress, int>> {});
        const auto attempt = [&](int index, const QByteArray &pass) {
            Browser browser { (index % 2 ? *replicas.second : replicas.first).port };
            const QByteArray email = sameAccount || index == 5
                ? "ada@example.com"
                : "user" + QByteArray::number(index) + "@example.com";
            const QByteArray from = sameAddress ? "192.0.2.7" : "192.0.2." + QByteArray::number(10 + index);
            return browser.post("/auth/login", form("signin", email, pass), { "X-Forwarded-For: " + from });
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(attempt(i, "wrong password").status, 401);
        const HttpMessage refused = attempt(5, password);
        QCOMPARE(refused.status, 429);
        const int retryAfter = refused.header("Retry-After").toInt();
        QVERIFY2(retryAfter > 0 && retryAfter <= 60, refused.header("Retry-After"));
        QVERIFY(tokenFrom(refused).isEmpty());
        QVERIFY(refused.body.contains("Too many failed attempts"));
        QCOMPARE(attempt(6, password).status, 429); // through the other replica

        replicas.now = replicas.now.addSecs(retryAfter);
        QCOMPARE(attempt(5, password).status, 303);
    }

    // Sent together, before any is answered: those still being checked count.
    void attemptsInFlightCountTowardsTheLimit()
    {
        Rig rig;
        Browser browser { rig.first.port };
        std::vector<std::unique_ptr<RawExchange>> attempts;
        for (int i = 0; i < 8; ++i)
            attempts.push_back(std::make_unique<RawExchange>(rig.first.port,
                browser.postRequest("/auth/login", form("signin", "ada@example.com", "wrong password"))));
        QList<int> statuses;
        for (auto &attempt : attempts)
            statuses.append(attempt->wait().status);
        std::sort(statuses.begin(), statuses.end());
        QCOMPARE(statuses, (QList<int> { 401, 401, 401, 401, 401, 429, 429, 429 }));
    }

    // An unknown address costs what a wrong password costs, so the time of
    // the answer does not tell whether the account exists.
    void everySigninCostsOnePasswordCheck()
    {
        Rig rig;
        const PasswordHasher &hasher = rig.first.endpoints->hasher();
        for (const auto &[email, pass, status] :
            QList<std::tuple<QByteArray, QByteArray, int>> { { "ada@example.com", "wrong password", 401 },
                { "nobody@example.com", "wrong password", 401 }, { "ada@example.com", password, 303 } }) {
            Browser browser { rig.first.port };
            const int before = hasher.verifications();
            QCOMPARE(browser.post("/auth/login", form("signin", email, pass)).status, status);
            QCOMPARE(hasher.verifications(), before + 1);
        }
    }

    void browserSignOutEndsTheProgramSessionFromThatSignIn()
    {
        Rig rig;
        Browser first { rig.first.port }, second { rig.first.port };
        const QString firstToken = signIn(first);
        const QString secondToken = signIn(second);
        // "Open Tellwind" on a page already signed in: a further program
        // session of the same browser sign-in.
        const QString continued = tokenFrom(second.post("/auth/login", "action=continue"));
        QVERIFY(!firstToken.isEmpty() && !secondToken.isEmpty() && !continued.isEmpty());

        // Signing out in the browser wants the form token as well.
        QCOMPARE(rawRequest(rig.first.port, "POST", "/auth/logout", "action=logout",
                     { "Content-Type: application/x-www-form-urlencoded", second.cookieHeader() })
                     .status,
            403);
        QCOMPARE(second.post("/auth/logout", "action=logout").header("Location"), QByteArray("/auth/login"));
        QCOMPARE((QList<int> { rig.status(firstToken), rig.status(secondToken), rig.status(continued) }),
            (QList<int> { 200, 401, 401 }));
        QVERIFY(second.get("/auth/account").header("Location").startsWith("/auth/login"));

        // The program's own sign-out revokes just its token.
        QCOMPARE(
            rawRequest(rig.first.port, "POST", "/api/auth/logout", {}, { bearer(firstToken) }).status, 200);
        QCOMPARE(rig.status(firstToken), 401);
        QCOMPARE(
            rawRequest(rig.first.port, "POST", "/api/auth/logout", {}, { bearer(firstToken) }).status, 401);
        QVERIFY(first.get("/auth/account").body.contains("ada@example.com"));
    }

    void aDatabaseOutageEndsNoSession()
    {
        if (!TestDatabase::isPostgres())
            QSKIP("Needs a database server that can be stopped");
        const QString cluster = qEnvironmentVariable("TELLWIND_TEST_DATABASE_DIR");
        Rig rig;
        Browser browser { rig.first.port };
        const QString token = signIn(browser);
        QVERIFY(!token.isEmpty());

        QCOMPARE(QProcess::execute(cluster + "/stop-cluster", {}), 0);
        auto restart = qScopeGuard([&] { QProcess::execute(cluster + "/start-cluster", {}); });
        QVERIFY(!rig.first.store->isReachable());
        // A 401 would make the program drop its session.
        const HttpMessage reply = getFrom(rig.first.port, "/api/auth/verify", bearer(token));
        QCOMPARE(reply.status, 503);
        QCOMPARE(reply.json().value("type").toString(), QString("error"));
        restart.dismiss();
        QCOMPARE(QProcess::execute(cluster + "/start-cluster", {}), 0);
        QVERIFY(rig.first.store->isReachable());
        QCOMPARE(rig.status(token), 200);
    }

    // A state that is not the program's kind of token is dropped, not echoed
    // into the page or the callback link.
    void aForeignStateIsNotEchoed()
    {
        Rig rig;
        for (const QByteArray state :
            { "\"><script>alert(1)</script>aaaaaa", "aaaaaaaaaaaaaaaaaaaa&token=mine" }) {
            Browser browser { rig.first.port };
            const HttpMessage page = browser.get("/auth/login?state=" + state.toPercentEncoding());
            QVERIFY(!page.body.contains("name=\"state\"") && !page.body.contains("<script>alert"));
            const QUrlQuery callback = callbackOf(browser.post("/auth/login",
                form("signin", "ada@example.com", password) + "&state=" + state.toPercentEncoding()));
            QCOMPARE(callback.allQueryItemValues("state"), QStringList());
            QCOMPARE(callback.allQueryItemValues("token").size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "test_server_auth.moc"
