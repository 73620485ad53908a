// Accounts and sign-in on one server and on replicas sharing a database: tokens, guessing, forged forms,
// sessions that must end, and older schemas.
#include "AccountOptions.h"
#include "AuthEndpoints.h"
#include "support/RawHttp.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHttpServer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QUuid>

#include <memory>
#include <vector>

namespace
{

// A fresh, empty account database for one test: a data folder for SQLite, or, when with_postgres.sh has
// started a cluster and named it in TELLWIND_TEST_DATABASE, a database of its own in that cluster.
struct TestDatabase {
    QTemporaryDir dir;
    QString name, url;

    static QString serverUrl() { return qEnvironmentVariable("TELLWIND_TEST_DATABASE"); }
    static bool isPostgres() { return !serverUrl().isEmpty(); }

    TestDatabase()
    {
        if (!isPostgres())
            return;
        name = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
        run(serverUrl(), { QStringLiteral("CREATE DATABASE ") + name });
        QUrl database(serverUrl());
        database.setPath(QLatin1Char('/') + name);
        url = database.toString();
    }
    ~TestDatabase()
    {
        if (!name.isEmpty())
            run(serverUrl(), { QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name) });
    }
    QString dataDir() const { return dir.path() + QStringLiteral("/data"); }
    // Every store made here shares the one database, like replicas do.
    std::unique_ptr<AccountStore> store() const { return std::make_unique<AccountStore>(dataDir(), url); }

    // Runs `statements` on the database at `url`, or in the SQLite `file`, as a client of its own would.
    static bool run(const QString &url, const QStringList &statements, const QString &file = {})
    {
        const auto address = PostgresAddress::parse(url, nullptr);
        const QString connection = QUuid::createUuid().toString();
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(address ? "QPSQL" : "QSQLITE", connection);
            db.setDatabaseName(address ? address->database : file);
            if (address) {
                db.setHostName(address->host);
                db.setPort(address->port);
                db.setUserName(address->user);
            }
            done = db.open();
            QSqlQuery query(db);
            for (const QString &statement : statements) {
                if (done && !query.exec(statement)) {
                    qWarning() << statement << query.lastError().text();
                    done = false;
                }
            }
        }
        QSqlDatabase::removeDatabase(connection);
        return done;
    }
};

const QList<QPair<QHostAddress, int>> loopbackProxy { { QHostAddress(QHostAddress::LocalHost), 32 } };
const QByteArray formType = "Content-Type: application/x-www-form-urlencoded";
const QByteArray password = "correct horse battery";

// One server's sign-in half on loopback in the test process; two on one TestDatabase are replicas.
struct AuthReplica {
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<AuthEndpoints> endpoints;
    QHttpServer http;
    quint16 port = 0;

    AuthReplica(const TestDatabase &database, std::function<QDateTime()> clock)
        : store(database.store())
    {
        store->setClock(std::move(clock));
        if (!store->open())
            return;
        endpoints = std::make_unique<AuthEndpoints>(*store);
        endpoints->registerRoutes(http);
        port = http.listen(QHostAddress::LocalHost, 0);
    }
};

// A browser as the sign-in pages see it: it keeps their cookies and sends the login page's form token.
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
    HttpMessage send(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
        const QList<QByteArray> &headers = {})
    {
        const HttpMessage reply = rawRequest(port, method, target, body, headers + QList { cookieHeader() });
        for (const auto &[name, value] : reply.headers) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
                continue;
            const QByteArray pair = value.split(';').first(), cookie = pair.left(pair.indexOf('=')),
                             content = pair.mid(pair.indexOf('=') + 1);
            if (content.isEmpty())
                cookies.remove(cookie);
            else
                cookies.insert(cookie, content);
        }
        return reply;
    }
    HttpMessage get(const QByteArray &target) { return send("GET", target); }
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
        return send("POST", path, withToken, QList { formType } + headers);
    }
};

QByteArray form(const QByteArray &action, const QByteArray &email, const QByteArray &pass = password,
    const QByteArray &name = {})
{
    return formBody({ { "email", email }, { "password", pass }, { "name", name }, { "action", action } });
}

// The token in the tellwind://callback link the browser is sent to, when it is one.
QString tokenFrom(const HttpMessage &reply)
{
    const QUrl location(QString::fromLatin1(reply.header("Location")));
    return location.adjusted(QUrl::RemoveQuery) == QUrl("tellwind://callback")
        ? QUrlQuery(location).queryItemValue("token")
        : QString();
}

// Ada's program token, from a sign-in in `browser`.
QString signIn(Browser &browser)
{
    return tokenFrom(browser.post("/auth/login", form("signin", "ada@example.com")));
}

// A server, or two replicas seeing one clock the test turns, on one database holding Ada's account.
struct Rig {
    QDateTime now = QDateTime::currentDateTimeUtc();
    TestDatabase database;
    AuthReplica first { database, [this] { return now; } };
    std::unique_ptr<AuthReplica> second;

    explicit Rig(bool replicated = false)
        : second(replicated ? std::make_unique<AuthReplica>(database, [this] { return now; }) : nullptr)
    {
        first.store->createAccount("ada@example.com", password);
    }
    HttpMessage api(const QByteArray &path, const QString &token)
    {
        return rawRequest(first.port, "GET", path, {}, { "Authorization: Bearer " + token.toLatin1() });
    }
    int status(const QString &token) { return api("/api/auth/me", token).status; }
};

// What the server wrote before its schema had versions.
const char *const unversionedSchema[] = {
    "CREATE TABLE IF NOT EXISTS users (id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, name TEXT,"
    " provider TEXT NOT NULL DEFAULT 'email', passwordHash TEXT NOT NULL, createdAt INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS sessions (tokenHash TEXT PRIMARY KEY,"
    " userId TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE, kind TEXT NOT NULL,"
    " createdAt INTEGER NOT NULL, expiresAt INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS sessionsByExpiry ON sessions(expiresAt)",
};

} // namespace

class TestServerAuth : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The token reaches the program in the callback link and nowhere else; what the visitor typed comes
    // back escaped, and a return path stays on this site.
    void createAccountSignInAndUseTheToken()
    {
        Rig rig;
        Browser browser { rig.first.port };
        const HttpMessage created = browser.post(
            "/auth/login", form("create", "Grace@Example.COM", "analytical engine", "Grace Hopper"));
        const QString token = tokenFrom(created);
        QVERIFY(!token.isEmpty() && created.header("Set-Cookie").contains("HttpOnly"));
        const QJsonObject user = rig.api("/api/auth/me", token).json();
        QCOMPARE(
            QStringList({ user["email"].toString(), user["name"].toString(), user["provider"].toString() }),
            QStringList({ "grace@example.com", "Grace Hopper", "email" }));
        // The browser session shows the account, and it is no bearer token.
        const HttpMessage account = browser.get("/auth/account");
        QVERIFY(account.body.contains("grace@example.com"));
        for (const HttpMessage &reply : { created, account, browser.get("/auth/login") }) {
            QByteArray everything = reply.body;
            for (const auto &[name, value] : reply.headers)
                everything += name.compare("Location", Qt::CaseInsensitive) == 0 ? QByteArray() : value;
            QVERIFY(!everything.contains(token.toLatin1()));
        }
        QVERIFY(
            rawRequest(rig.first.port, "GET", "/auth/account").header("Location").startsWith("/auth/login"));
        QCOMPARE(rig.status(browser.cookies.value(AuthEndpoints::cookieName)), 401);

        Browser visitor { rig.first.port };
        const HttpMessage reflected
            = visitor.post("/auth/login", form("signin", "<script>alert(1)</script>", "x"));
        QVERIFY(!reflected.body.contains("<script>") && reflected.body.contains("&lt;script&gt;"));
        for (const QByteArray &target : QByteArrayList { "//evil.example/", "/\\evil.example" })
            QVERIFY(visitor.get("/auth/login?returnTo=" + target.toPercentEncoding())
                        .body.contains("name=\"returnTo\" value=\"/auth/account\""));

        if (TestDatabase::isPostgres())
            return;
        // Neither the password nor a token is in the owner-only database file.
        QFile file(rig.first.store->databasePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("$argon2id$") && !bytes.contains("analytical engine"));
        QVERIFY(!bytes.contains(token.toLatin1()));
        QCOMPARE(file.permissions() & 0x0077, QFile::Permissions());
    }

    // Signing out in the browser ends the program sessions of that sign-in ("Open Tellwind" on a signed-in
    // page makes a further one); a token lasts thirty days, and not again if the clock goes back.
    void sessionsEnd()
    {
        Rig rig;
        Browser first { rig.first.port }, second { rig.first.port };
        const QString firstToken = signIn(first), secondToken = signIn(second);
        const QString continued = tokenFrom(second.post("/auth/login", "action=continue"));
        QVERIFY(!firstToken.isEmpty() && !secondToken.isEmpty() && !continued.isEmpty());
        QCOMPARE(second.post("/auth/logout", "action=logout").header("Location"), QByteArray("/auth/login"));
        QCOMPARE((QList<int> { rig.status(firstToken), rig.status(secondToken), rig.status(continued) }),
            (QList<int> { 200, 401, 401 }));
        QVERIFY(second.get("/auth/account").header("Location").startsWith("/auth/login"));

        const QDateTime start = rig.now;
        rig.now = start.addDays(29);
        QCOMPARE(rig.status(firstToken), 200);
        rig.now = start.addDays(30).addSecs(1);
        QCOMPARE(rig.api("/api/auth/verify", firstToken).json(), errorJson("Session expired"));
        rig.now = start;
        QCOMPARE(rig.status(firstToken), 401);
    }

    // Forms from elsewhere are refused. Cookies carry Secure when the server is reached over https: by its
    // public origin, or by the word of the proxy in front of it.
    void formsFromElsewhereAreRefusedAndCookiesSecureBehindHttps()
    {
        const struct {
            const char *name;
            QByteArray header;
            int status = 303;
            bool sendToken = true, sendCookie = true;
            const char *origin = "";
            bool trustProxy = false, secure = false;
        } rows[] = {
            { "from the page", {} },
            { "no token", {}, 403, false },
            { "token without its cookie", {}, 403, true, false },
            { "another site", "Origin: https://evil.example", 403 },
            { "cross-site fetch", "Sec-Fetch-Site: cross-site", 403 },
            // A sibling host (another user's page under the same domain) is no origin of ours.
            { "same-site fetch", "Sec-Fetch-Site: same-site", 403 },
            { "same-origin fetch", "Sec-Fetch-Site: same-origin" },
            { "own origin", "Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:8080" },
            { "another port", "Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:9090", 403 },
            { "https by the public origin", {}, 303, true, true, "https://speech.example", false, true },
            { "https by the proxy", "X-Forwarded-Proto: https", 303, true, true, "", true, true },
            { "https by anyone's word", "X-Forwarded-Proto: https" },
        };
        for (const auto &row : rows) {
            const auto guard = rowGuard(row.name);
            Rig rig;
            rig.first.endpoints->setPublicOrigin(QUrl(row.origin));
            if (row.trustProxy)
                rig.first.endpoints->setTrustedProxies(loopbackProxy);
            Browser browser { rig.first.port };
            const HttpMessage page = browser.send("GET", "/auth/login", {}, { row.header });
            const QByteArray token = browser.cookies.value(AuthEndpoints::csrfCookieName);
            QVERIFY(page.body.contains("name=\"csrf\" value=\"" + token + "\""));
            if (!row.sendCookie)
                browser.cookies.clear();
            const HttpMessage reply = browser.send("POST", "/auth/login",
                form("signin", "ada@example.com") + "&csrf=" + (row.sendToken ? token : QByteArray()),
                { formType, row.header });
            QCOMPARE(reply.status, row.status);
            QCOMPARE(!tokenFrom(reply).isEmpty(), row.status == 303);
            for (const HttpMessage &cookied : { page, reply }) {
                if (cookied.status != 403) {
                    QVERIFY(!cookied.header("Set-Cookie").isEmpty());
                    QCOMPARE(cookied.header("Set-Cookie").endsWith("; Secure"), row.secure);
                }
            }
        }
    }

    // The sixth attempt, with the right password, is refused all the same, whatever a non-proxy forwards.
    void failedSigninsAreLimitedOnEveryReplica()
    {
        for (const auto &[trustProxy, sameAccount, sameAddress] :
            { std::tuple { true, true, true }, { true, false, true }, { false, false, false } }) {
            Rig replicas(true);
            for (AuthReplica *replica : { &replicas.first, replicas.second.get() })
                replica->endpoints->setTrustedProxies(
                    trustProxy ? loopbackProxy : QList<QPair<QHostAddress, int>>());
            const auto attempt = [&](int index, const QByteArray &pass) {
                Browser browser { (index % 2 ? *replicas.second : replicas.first).port };
                const QByteArray email = sameAccount || index == 5
                    ? "ada@example.com"
                    : "user" + QByteArray::number(index) + "@example.com";
                const QByteArray from
                    = sameAddress ? "192.0.2.7" : "192.0.2." + QByteArray::number(10 + index);
                return browser.post(
                    "/auth/login", form("signin", email, pass), { "X-Forwarded-For: " + from });
            };
            for (int i = 0; i < 5; ++i)
                QCOMPARE(attempt(i, "wrong password").status, 401);
            // One check each, for an unknown address too, lest timing tell accounts apart.
            QCOMPARE(replicas.first.endpoints->hasher().verifications()
                    + replicas.second->endpoints->hasher().verifications(),
                5);
            const HttpMessage refused = attempt(5, password);
            QCOMPARE(refused.status, 429);
            const int retryAfter = refused.header("Retry-After").toInt();
            QVERIFY2(retryAfter > 0 && retryAfter <= 60, refused.header("Retry-After"));
            QCOMPARE(attempt(6, password).status, 429); // through the other replica
            replicas.now = replicas.now.addSecs(retryAfter);
            for (int i = 0; i < 6; ++i) // a success takes its attempt back
                QCOMPARE(attempt(5, password).status, 303);
        }
    }

    // Guesses sent at once are counted as they arrive, no more checked than one by one; with a wide window,
    // one address still gets only a few checked at a time. A guesser elsewhere does not lock the owner out.
    void guessesAreCountedBeforeTheirCheck()
    {
        for (const auto &[action, maxFailures] : { std::pair<QByteArray, int> { "signin", 5 },
                 { "create", 5 }, { "signin", 1000 }, { "create", 1000 } }) {
            const auto row = rowGuard(action + ' ' + QByteArray::number(maxFailures));
            Rig rig;
            rig.first.store->setSigninLimits({ maxFailures });
            rig.first.endpoints->setTrustedProxies(loopbackProxy);
            Browser browser { rig.first.port };
            const QByteArray csrf = browser.csrf();
            std::vector<std::unique_ptr<RawExchange>> guesses;
            for (int i = 0; i < 20; ++i) {
                const QByteArray number = QByteArray::number(i);
                guesses.push_back(std::make_unique<RawExchange>(rig.first.port,
                    httpRequest("POST", "/auth/login",
                        form(action, "user" + number + "@example.com", "guess number " + number)
                            + "&csrf=" + csrf,
                        { formType, browser.cookieHeader(), "X-Forwarded-For: 192.0.2.50" })));
            }
            QMap<int, int> statuses;
            for (const auto &guess : guesses)
                ++statuses[guess->wait().status];
            const int checked = statuses.value(action == "create" ? 303 : 401);
            // Wide open, the bound leaves room for a loaded machine reading guesses slower than it checks.
            QVERIFY2(
                checked >= 1 && checked <= (maxFailures == 5 ? 5 : 10), qPrintable(QString::number(checked)));
            QCOMPARE(statuses.value(429), 20 - checked);
            if (action == "signin")
                QCOMPARE(rig.first.endpoints->hasher().verifications(), checked);
            // Ada herself, from her own address, is still let in.
            for (int i = 0; maxFailures == 5 && i < 6; ++i) {
                const HttpMessage reply = browser.post("/auth/login",
                    form("signin", "ada@example.com", i < 5 ? "wrong password" : password),
                    { "X-Forwarded-For: "
                        + (i < 5 ? "198.51.100." + QByteArray::number(i) : "203.0.113.9") });
                QCOMPARE(reply.status, i < 5 ? 401 : 303);
            }
        }
    }

    // A 401 would make the program drop its session.
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
        const HttpMessage reply = rig.api("/api/auth/verify", token);
        QCOMPARE(reply.status, 503);
        QCOMPARE(reply.json().value("type").toString(), QString("error"));
        restart.dismiss();
        QCOMPARE(QProcess::execute(cluster + "/start-cluster", {}), 0);
        QVERIFY(rig.first.store->isReachable());
        QCOMPARE(rig.status(token), 200);
    }

    void aDatabaseFromBeforeVersionsKeepsItsAccountsAndSessions()
    {
        if (TestDatabase::isPostgres())
            QSKIP("Before versions there was only SQLite");
        TestDatabase database;
        QVERIFY(QDir().mkpath(database.dataDir()));
        const QString oldToken = QStringLiteral("token-from-the-old-server");
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QByteArray tokenHash
            = QCryptographicHash::hash(oldToken.toUtf8(), QCryptographicHash::Sha256).toHex();
        QVERIFY(TestDatabase::run({},
            QStringList(std::begin(unversionedSchema), std::end(unversionedSchema))
                << QStringLiteral(
                       "INSERT INTO users VALUES ('u1', 'ada@example.com', 'Ada', 'email', '%1', %2)")
                       .arg(QString::fromLatin1(PasswordHasher::hashNow("analytical engine")))
                       .arg(now / 1000)
                << QStringLiteral("INSERT INTO sessions VALUES ('%1', 'u1', 'app', %2, %3)")
                       .arg(QString::fromLatin1(tokenHash))
                       .arg(now)
                       .arg(now + 86400000),
            database.dataDir() + QStringLiteral("/accounts.sqlite")));
        auto store = database.store();
        QString error;
        QVERIFY2(store->open(&error), qPrintable(error));
        QCOMPARE(store->appliedSchemaVersion(), AccountStore::schemaVersion);
        const auto signedIn = store->authenticate("ADA@example.com", "analytical engine");
        QVERIFY(signedIn.index() == 0);
        QCOMPARE(std::get<AccountStore::Account>(signedIn).name, std::optional<QString>("Ada"));
        const auto session = store->findSession(oldToken, AccountStore::SessionKind::app);
        QCOMPARE(session.state, AccountStore::SessionState::valid);
        QVERIFY(session.signinId.isEmpty());
        // What the new version added works on the old rows.
        QVERIFY(store->createSignIn("u1").has_value());
        store->endSignIn(QStringLiteral("no such browser session"));
        QCOMPARE(store->findSession(oldToken, AccountStore::SessionKind::app).state,
            AccountStore::SessionState::valid);
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "test_server_auth.moc"
