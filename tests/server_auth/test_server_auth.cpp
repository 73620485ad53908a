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
#include <vector>

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
    HttpMessage post(const QByteArray &path, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        const QByteArray withToken = body + "&csrf=" + csrf(); // before the cookies are read
        return keep(rawRequest(port, "POST", path, withToken,
            QList<QByteArray> { "Content-Type: application/x-www-form-urlencoded", cookieHeader() }
                + headers));
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

        // The browser session shows the account; without it the page sends
        // the browser to sign in, and it is no bearer token.
        const HttpMessage account = browser.get("/auth/account");
        QVERIFY(account.body.contains("ada@example.com"));
        for (const HttpMessage &reply : { created, account, browser.get("/auth/login") }) {
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

    void bearerTokensExpireAfterThirtyDays()
    {
        Rig rig;
        Browser browser { rig.first.port };
        const QString token = signIn(browser);
        const QDateTime start = rig.now;
        rig.now = start.addDays(29);
        QCOMPARE(rig.status(token), 200);
        rig.now = start.addDays(30).addSecs(1);
        QCOMPARE(getFrom(rig.first.port, "/api/auth/verify", bearer(token)).json(),
            QJsonObject({ { "type", "error" }, { "error", "Session expired" } }));
        // Gone for good, even if the clock goes back.
        rig.now = start;
        QCOMPARE(rig.status(token), 401);
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
        // A sibling host (another user's page under the same domain) is no origin of ours.
        QTest::addRow("same-site fetch")
            << QByteArray("page") << true << QByteArray("Sec-Fetch-Site: same-site") << 403;
        QTest::addRow("same-origin fetch")
            << QByteArray("page") << true << QByteArray("Sec-Fetch-Site: same-origin") << 303;
        QTest::addRow("the page's own origin, port and all")
            << QByteArray("page") << true
            << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:8080") << 303;
        QTest::addRow("the same host on another port")
            << QByteArray("page") << true
            << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:9090") << 403;
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
    }

    void failedSigninsAreLimitedOnEveryReplica_data()
    {
        QTest::addColumn<bool>("trustProxy");
        QTest::addColumn<bool>("sameAccount");
        QTest::addColumn<bool>("sameAddress");
        // The sixth attempt uses the right password: it is refused all the same.
        QTest::addRow("one account from one address") << true << true << true;
        QTest::addRow("many accounts from one address") << true << false << true;
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
        QCOMPARE(attempt(6, password).status, 429); // through the other replica

        replicas.now = replicas.now.addSecs(retryAfter);
        QCOMPARE(attempt(5, password).status, 303);
    }

    // Guesses sent all at once are counted as they arrive: no more of them
    // are checked than of guesses sent one by one, whether they spray many
    // accounts or create them. With a window wide enough to let them all
    // through, one address still has only a few checked at a time, as each
    // takes a tenth of a second. Someone guessing from elsewhere slows an
    // account down without locking its owner out.
    void guessesAreCountedBeforeTheirCheck_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<int>("maxFailures");
        QTest::addRow("sign in") << QByteArray("signin") << 5;
        QTest::addRow("create") << QByteArray("create") << 5;
        QTest::addRow("sign in, window wide open") << QByteArray("signin") << 1000;
        QTest::addRow("create, window wide open") << QByteArray("create") << 1000;
    }

    void guessesAreCountedBeforeTheirCheck()
    {
        QFETCH(QByteArray, action);
        QFETCH(int, maxFailures);
        Rig rig;
        rig.first.store->setSigninLimits({ maxFailures });
        rig.first.endpoints->setTrustedProxies({ { QHostAddress(QHostAddress::LocalHost), 32 } });
        const PasswordHasher &hasher = rig.first.endpoints->hasher();
        Browser browser { rig.first.port };
        const QByteArray csrf = browser.csrf();
        std::vector<std::unique_ptr<RawExchange>> guesses;
        for (int i = 0; i < 20; ++i) {
            const QByteArray body = form(action, "user" + QByteArray::number(i) + "@example.com",
                                        "guess number " + QByteArray::number(i))
                + "&csrf=" + csrf;
            guesses.push_back(std::make_unique<RawExchange>(rig.first.port,
                httpRequest("POST", "/auth/login", body,
                    { "Content-Type: application/x-www-form-urlencoded", browser.cookieHeader(),
                        "X-Forwarded-For: 192.0.2.50" })));
        }
        QMap<int, int> statuses;
        for (const auto &guess : guesses)
            ++statuses[guess->wait().status];
        const int checked = action == "create" ? statuses.value(303) : statuses.value(401);
        // Wide open, the bound leaves room for a loaded machine that reads
        // the guesses slower than it checks them.
        QVERIFY2(
            checked >= 1 && checked <= (maxFailures == 5 ? 5 : 10), qPrintable(QString::number(checked)));
        QCOMPARE(statuses.value(429), 20 - checked);
        if (action == "signin")
            QCOMPARE(hasher.verifications(), checked);
        if (maxFailures > 5)
            return;

        // Ada herself, from her own address, is still let in.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(browser
                         .post("/auth/login", form("signin", "ada@example.com", "wrong password"),
                             { "X-Forwarded-For: 198.51.100." + QByteArray::number(i) })
                         .status,
                401);
        }
        QCOMPARE(browser
                     .post("/auth/login", form("signin", "ada@example.com", password),
                         { "X-Forwarded-For: 203.0.113.9" })
                     .status,
            303);
    }

    // Cookies carry Secure when the server is reached over https: by its
    // public origin, or by the word of the proxy in front of it.
    void cookiesAreSecureBehindHttps_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("trustProxy");
        QTest::addColumn<QByteArray>("proto");
        QTest::addColumn<bool>("secure");
        QTest::addRow("plain http") << QString() << false << QByteArray() << false;
        QTest::addRow("https origin") << "https://speech.example" << false << QByteArray() << true;
        QTest::addRow("proxy says https") << QString() << true << QByteArray("https") << true;
        QTest::addRow("anyone says https") << QString() << false << QByteArray("https") << false;
    }

    void cookiesAreSecureBehindHttps()
    {
        QFETCH(QString, origin);
        QFETCH(bool, trustProxy);
        QFETCH(QByteArray, proto);
        QFETCH(bool, secure);
        Rig rig;
        rig.first.endpoints->setPublicOrigin(QUrl(origin));
        if (trustProxy)
            rig.first.endpoints->setTrustedProxies({ { QHostAddress(QHostAddress::LocalHost), 32 } });
        const QByteArray header = proto.isEmpty() ? QByteArray() : "X-Forwarded-Proto: " + proto;
        const HttpMessage page = getFrom(rig.first.port, "/auth/login", header);
        Browser browser { rig.first.port };
        const HttpMessage signedIn
            = browser.post("/auth/login", form("signin", "ada@example.com", password), { header });
        QCOMPARE(signedIn.status, 303);
        for (const HttpMessage &reply : { page, signedIn }) {
            const QByteArray cookie = reply.header("Set-Cookie");
            QVERIFY(!cookie.isEmpty());
            QCOMPARE(cookie.endsWith("; Secure"), secure);
        }
    }

    // Only failures count towards the limit: a success takes its own attempt back.
    void successesAreNotCountedAsGuesses()
    {
        Rig rig;
        for (int i = 0; i < 4; ++i) {
            Browser browser { rig.first.port };
            QCOMPARE(
                browser.post("/auth/login", form("signin", "ada@example.com", "wrong password")).status, 401);
        }
        for (int i = 0; i < 3; ++i) {
            Browser browser { rig.first.port };
            QVERIFY2(!signIn(browser).isEmpty(), qPrintable(QString::number(i)));
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

        QCOMPARE(second.post("/auth/logout", "action=logout").header("Location"), QByteArray("/auth/login"));
        QCOMPARE((QList<int> { rig.status(firstToken), rig.status(secondToken), rig.status(continued) }),
            (QList<int> { 200, 401, 401 }));
        QVERIFY(second.get("/auth/account").header("Location").startsWith("/auth/login"));
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
    // Whatever the visitor typed comes back escaped; the return path stays on this site.
    void pagesEscapeWhatComesBack()
    {
        Rig rig;
        Browser browser { rig.first.port };
        const HttpMessage reflected
            = browser.post("/auth/login", form("signin", "<script>alert(1)</script>", "x"));
        QVERIFY(!reflected.body.contains("<script>") && reflected.body.contains("&lt;script&gt;"));
        for (const QByteArray &target : QByteArrayList { "//evil.example/", "/\\evil.example" })
            QVERIFY(browser.get("/auth/login?returnTo=" + target.toPercentEncoding())
                        .body.contains("name=\"returnTo\" value=\"/auth/account\""));
    }

    // An unknown address costs one password check like a known one, so the
    // answer's timing does not tell which accounts exist.
    void everySigninCostsOnePasswordCheck()
    {
        Rig rig;
        const PasswordHasher &hasher = rig.first.endpoints->hasher();
        for (const QByteArray email : { "ada@example.com", "nobody@example.com" }) {
            Browser browser { rig.first.port };
            const int before = hasher.verifications();
            QCOMPARE(browser.post("/auth/login", form("signin", email, "wrong password")).status, 401);
            QCOMPARE(hasher.verifications(), before + 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "test_server_auth.moc"
