// Sign-in against guessing, forged forms and stale sessions, on one server
// and on two replicas sharing a database.
#include "AuthRig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

namespace
{

const QByteArray password = "correct horse battery";

// A shared clock, so both replicas see the same minute pass.
struct Replicas {
    TestDatabase database;
    AuthReplica first { database };
    AuthReplica second { database };
    QDateTime now = QDateTime::currentDateTimeUtc();

    Replicas()
    {
        for (AuthReplica *replica : { &first, &second })
            replica->store->setClock([this] { return now; });
    }
    AuthReplica &replica(int index) { return index % 2 == 0 ? first : second; }
};

// Requests written before any answer is read: the server sees them together.
QList<int> sendTogether(quint16 port, const QList<QByteArray> &requests)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (const QByteArray &request : requests) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress::LocalHost, port);
        sockets.back()->write(request);
    }
    QList<QByteArray> received(requests.size());
    const auto complete = [&] {
        for (size_t i = 0; i < sockets.size(); ++i) {
            received[qsizetype(i)] += sockets[i]->readAll();
            const QByteArray &data = received[qsizetype(i)];
            const qsizetype end = data.indexOf("\r\n\r\n");
            const qsizetype length = data.toLower().indexOf("content-length:");
            if (end < 0 || length < 0
                || data.size()
                    < end + 4 + data.mid(length + 15, 12).split('\r').first().trimmed().toLongLong())
                return false;
        }
        return true;
    };
    QList<int> statuses;
    if (QTest::qWaitFor(complete, 30000)) {
        for (const QByteArray &data : received)
            statuses.append(data.mid(9, 3).toInt());
    }
    return statuses;
}

QByteArray rawPost(Browser &browser, const QByteArray &body)
{
    const QByteArray withToken = body + "&csrf=" + browser.csrf();
    return "POST /auth/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\n"
        + browser.cookieHeader() + "\r\nContent-Length: " + QByteArray::number(withToken.size()) + "\r\n\r\n"
        + withToken;
}

} // namespace

class TestSigninHardening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void formsFromElsewhereAreRefused_data()
    {
        QTest::addColumn<QByteArray>("csrf"); // "page": the one the page handed out
        QTest::addColumn<bool>("sendCookie");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::addRow("from the page") << QByteArray("page") << true << QByteArray() << 303;
        QTest::addRow("same origin named")
            << QByteArray("page") << true << QByteArray("Origin: http://127.0.0.1") << 303;
        QTest::addRow("no token") << QByteArray() << true << QByteArray() << 403;
        QTest::addRow("another token") << QByteArray("A").repeated(43) << true << QByteArray() << 403;
        QTest::addRow("token without its cookie") << QByteArray("page") << false << QByteArray() << 403;
        QTest::addRow("another site")
            << QByteArray("page") << true << QByteArray("Origin: https://evil.example") << 403;
        QTest::addRow("opaque origin") << QByteArray("page") << true << QByteArray("Origin: null") << 403;
        QTest::addRow("other host name")
            << QByteArray("page") << true << QByteArray("Origin: http://localhost") << 403;
        QTest::addRow("other port") << QByteArray("page") << true << QByteArray("Origin: http://127.0.0.1:1")
                                    << 403;
        QTest::addRow("cross-site fetch")
            << QByteArray("page") << true << QByteArray("Sec-Fetch-Site: cross-site") << 403;
    }
    void formsFromElsewhereAreRefused()
    {
        QFETCH(QByteArray, csrf);
        QFETCH(bool, sendCookie);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        Browser browser { server.port };
        const RawReply page = browser.get("/auth/login");
        const QByteArray token = browser.cookies.value(AuthEndpoints::csrfCookieName);
        QVERIFY(page.body.contains("name=\"csrf\" value=\"" + token + "\""));
        const QByteArray body
            = form("signin", "ada@example.com", password) + "&csrf=" + (csrf == "page" ? token : csrf);
        const RawReply reply = rawRequest(server.port, "POST", "/auth/login", body,
            { "Content-Type: application/x-www-form-urlencoded",
                sendCookie ? browser.cookieHeader() : QByteArray(), header });
        QCOMPARE(reply.status, status);
        QCOMPARE(!tokenFrom(reply).isEmpty(), status == 303);
        if (status == 403) {
            // A fresh token to try again with, and no session.
            QVERIFY(reply.header("Set-Cookie").startsWith(AuthEndpoints::csrfCookieName + '='));
            QVERIFY(reply.body.contains("name=\"csrf\""));
        }

        // Signing out in the browser wants the token as well.
        if (status == 303) {
            browser.keep(reply);
            const QByteArray session = "Cookie: " + AuthEndpoints::cookieName + '='
                + browser.cookies.value(AuthEndpoints::cookieName);
            QCOMPARE(rawRequest(server.port, "POST", "/auth/logout", "action=logout",
                         { "Content-Type: application/x-www-form-urlencoded", session })
                         .status,
                403);
            QVERIFY(browser.get("/auth/account").body.contains("ada@example.com"));
        }
    }

    void pagesSendSecurityHeadersAndTheTokenOnlyInTheCallback()
    {
        TestDatabase database;
        AuthReplica server(database);
        Browser browser { server.port };
        QList<QPair<const char *, RawReply>> replies;
        replies.append({ "login page", browser.get("/auth/login") });
        const RawReply signedIn = browser.post("/auth/login", form("create", "ada@example.com", password));
        replies.append({ "sign-in", signedIn });
        replies.append({ "failed sign-in",
            browser.post("/auth/login", form("signin", "ada@example.com", "wrong one")) });
        replies.append({ "account page", browser.get("/auth/account") });
        replies.append({ "account redirect", getFrom(server.port, "/auth/account") });
        replies.append({ "login page signed in", browser.get("/auth/login") });
        const QString token = tokenFrom(signedIn);
        QVERIFY(!token.isEmpty());
        for (const auto &[what, reply] : replies) {
            QVERIFY2(reply.header("Content-Security-Policy").contains("frame-ancestors 'none'"), what);
            QVERIFY2(reply.header("X-Frame-Options") == "DENY", what);
            QVERIFY2(reply.header("Referrer-Policy") == "no-referrer", what);
            QVERIFY2(reply.header("Cache-Control") == "no-store", what);
            QByteArray everything = reply.body;
            for (auto it = reply.headers.cbegin(); it != reply.headers.cend(); ++it) {
                if (it.key() != "location")
                    everything += it.value();
            }
            QVERIFY2(!everything.contains(token.toLatin1()), what);
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
        Replicas replicas;
        QVERIFY(replicas.first.store->createAccount("ada@example.com", password).index() == 0);
        if (trustProxy) {
            for (AuthReplica *replica : { &replicas.first, &replicas.second })
                replica->endpoints->setTrustedProxies({ { QHostAddress(QHostAddress::LocalHost), 32 } });
        }
        const auto attempt = [&](int index, const QByteArray &pass) {
            AuthReplica &replica = replicas.replica(index);
            Browser browser { replica.port };
            const QByteArray email = sameAccount || index == 5
                ? "ada@example.com"
                : "user" + QByteArray::number(index) + "@example.com";
            const QByteArray from = sameAddress ? "192.0.2.7" : "192.0.2." + QByteArray::number(10 + index);
            return browser.post("/auth/login", form("signin", email, pass), { "X-Forwarded-For: " + from });
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(attempt(i, "wrong password").status, 401);
        const RawReply refused = attempt(5, password);
        QCOMPARE(refused.status, 429);
        const int retryAfter = refused.header("Retry-After").toInt();
        QVERIFY2(retryAfter > 0 && retryAfter <= 60, refused.header("Retry-After"));
        QVERIFY(tokenFrom(refused).isEmpty());
        QVERIFY(refused.body.contains("Too many failed attempts"));
        QCOMPARE(attempt(6, password).status, 429); // through the other replica

        replicas.now = replicas.now.addSecs(retryAfter);
        QCOMPARE(attempt(5, password).status, 303);
    }

    void attemptsInFlightCountTowardsTheLimit()
    {
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        Browser browser { server.port };
        QList<QByteArray> requests;
        for (int i = 0; i < 8; ++i)
            requests.append(rawPost(browser, form("signin", "ada@example.com", "wrong password")));
        QList<int> statuses = sendTogether(server.port, requests);
        std::sort(statuses.begin(), statuses.end());
        QCOMPARE(statuses, (QList<int> { 401, 401, 401, 401, 401, 429, 429, 429 }));
    }

    void everySigninCostsOnePasswordCheck()
    {
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        const PasswordHasher &hasher = server.endpoints->hasher();
        // An unknown address costs what a wrong password costs, so the time
        // of the answer does not tell whether the account exists.
        for (const auto &[email, pass, status] :
            QList<std::tuple<QByteArray, QByteArray, int>> { { "ada@example.com", "wrong password", 401 },
                { "nobody@example.com", "wrong password", 401 }, { "ada@example.com", password, 303 } }) {
            Browser browser { server.port };
            const int before = hasher.verifications();
            QCOMPARE(browser.post("/auth/login", form("signin", email, pass)).status, status);
            QCOMPARE(hasher.verifications(), before + 1);
        }
    }

    void theEventLoopAnswersWhilePasswordsAreChecked()
    {
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        Browser browser { server.port };
        const QString token
            = tokenFrom(browser.post("/auth/login", form("signin", "ada@example.com", password)));
        QList<QByteArray> requests;
        for (int i = 0; i < 4; ++i) {
            Browser other { server.port };
            requests.append(rawPost(other, form("signin", "ada@example.com", password)));
        }
        // Written after the sign-ins, answered before the last of them: the
        // hashing does not hold up the loop.
        requests.append("GET /api/auth/me HTTP/1.1\r\nHost: 127.0.0.1\r\n" + bearer(token) + "\r\n\r\n");
        QElapsedTimer clock;
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (const QByteArray &request : requests) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, server.port);
            sockets.back()->write(request);
        }
        clock.start();
        QList<qint64> answeredAt(requests.size(), -1);
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (size_t i = 0; i < sockets.size(); ++i) {
                    if (answeredAt[qsizetype(i)] < 0 && sockets[i]->bytesAvailable() > 0)
                        answeredAt[qsizetype(i)] = clock.nsecsElapsed();
                }
                return !answeredAt.contains(-1);
            },
            30000));
        const qint64 lastSignin = *std::max_element(answeredAt.cbegin(), answeredAt.cend() - 1);
        QVERIFY(answeredAt.last() < lastSignin);
    }

    void browserSignOutEndsTheProgramSessionFromThatSignIn()
    {
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        Browser first { server.port }, second { server.port };
        const QString firstToken
            = tokenFrom(first.post("/auth/login", form("signin", "ada@example.com", password)));
        const QString secondToken
            = tokenFrom(second.post("/auth/login", form("signin", "ada@example.com", password)));
        // "Open Tellwind" on a page already signed in: a further program
        // session of the same browser sign-in.
        const QString continued = tokenFrom(second.post("/auth/login", "action=continue"));
        QVERIFY(!firstToken.isEmpty() && !secondToken.isEmpty() && !continued.isEmpty());

        const auto status = [&](const QString &token) {
            return getFrom(server.port, "/api/auth/me", bearer(token)).status;
        };
        QCOMPARE(second.post("/auth/logout", "action=logout").header("Location"), QByteArray("/auth/login"));
        QCOMPARE((QList<int> { status(firstToken), status(secondToken), status(continued) }),
            (QList<int> { 200, 401, 401 }));
        QVERIFY(second.get("/auth/account").header("Location").startsWith("/auth/login"));

        // The program's own sign-out revokes just its token.
        const RawReply revoked
            = rawRequest(server.port, "POST", "/api/auth/logout", {}, { bearer(firstToken) });
        QCOMPARE(revoked.status, 200);
        QCOMPARE(status(firstToken), 401);
        QCOMPARE(rawRequest(server.port, "POST", "/api/auth/logout", {}, { bearer(firstToken) }).status, 401);
        QVERIFY(first.get("/auth/account").body.contains("ada@example.com"));
    }

    void expiredSessionsArePurged()
    {
        TestDatabase database;
        AuthReplica server(database);
        QDateTime now = QDateTime::currentDateTimeUtc();
        server.store->setClock([&now] { return now; });
        Browser browser { server.port };
        const QString token
            = tokenFrom(browser.post("/auth/login", form("create", "ada@example.com", password)));
        now = now.addDays(31);
        // Without the purge the row would still say why it fails.
        server.store->purgeExpired();
        QCOMPARE(jsonOf(getFrom(server.port, "/api/auth/me", bearer(token))).value("error").toString(),
            QString("Invalid session token"));
    }

    void aDatabaseOutageEndsNoSession()
    {
        if (!TestDatabase::isPostgres())
            QSKIP("Needs a database server that can be stopped");
        const QString cluster = qEnvironmentVariable("TELLWIND_TEST_DATABASE_DIR");
        TestDatabase database;
        AuthReplica server(database);
        Browser browser(server.port);
        const QString token
            = tokenFrom(browser.post("/auth/login", form("create", "ada@example.com", password)));
        QVERIFY(!token.isEmpty());

        QCOMPARE(QProcess::execute(cluster + "/stop-cluster", {}), 0);
        auto restart = qScopeGuard([&] { QProcess::execute(cluster + "/start-cluster", {}); });
        QVERIFY(!server.store->isReachable());
        // A 401 would make the program drop its session.
        for (const QByteArray path : { "/api/auth/me", "/api/auth/verify" }) {
            const RawReply reply = getFrom(server.port, path, bearer(token));
            QCOMPARE(reply.status, 503);
            QCOMPARE(jsonOf(reply).value("type").toString(), QString("error"));
        }

        restart.dismiss();
        QCOMPARE(QProcess::execute(cluster + "/start-cluster", {}), 0);
        QVERIFY(server.store->isReachable());
        QCOMPARE(getFrom(server.port, "/api/auth/me", bearer(token)).status, 200);
    }

    void replicasShareSessions()
    {
        Replicas replicas;
        Browser browser { replicas.first.port };
        const QString token
            = tokenFrom(browser.post("/auth/login", form("create", "ada@example.com", password)));
        QVERIFY(!token.isEmpty());
        QCOMPARE(
            jsonOf(getFrom(replicas.second.port, "/api/auth/me", bearer(token))).value("email").toString(),
            QString("ada@example.com"));
        QCOMPARE(jsonOf(getFrom(replicas.second.port, "/api/auth/verify", bearer(token)))
                     .value("token")
                     .toString(),
            token);
        // The browser's cookie is good on the other replica too.
        browser.port = replicas.second.port;
        QVERIFY(browser.get("/auth/account").body.contains("ada@example.com"));

        QCOMPARE(
            rawRequest(replicas.second.port, "POST", "/api/auth/logout", {}, { bearer(token) }).status, 200);
        QCOMPARE(getFrom(replicas.first.port, "/api/auth/me", bearer(token)).status, 401);
        QCOMPARE(getFrom(replicas.first.port, "/api/auth/verify", bearer(token)).status, 401);

        // An account made through one signs in through the other.
        Browser other { replicas.second.port };
        QCOMPARE(other.post("/auth/login", form("signin", "ada@example.com", password)).status, 303);
    }

    void theProgramsStateComesBackInTheCallback_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QString>("echoed");
        const QByteArray state = "Zq3_x-81ab5LmNoPqRsTuVwXyZ012345";
        QTest::addRow("sign-in") << state << QByteArray("signin") << QString(state);
        QTest::addRow("cancel") << state << QByteArray("cancel") << QString(state);
        QTest::addRow("no state") << QByteArray() << QByteArray("signin") << QString();
        QTest::addRow("too short") << QByteArray("abc") << QByteArray("signin") << QString();
        QTest::addRow("markup") << QByteArray("\"><script>alert(1)</script>aaaaaa") << QByteArray("signin")
                                << QString();
        QTest::addRow("another query item")
            << QByteArray("aaaaaaaaaaaaaaaaaaaa&token=mine") << QByteArray("signin") << QString();
    }
    void theProgramsStateComesBackInTheCallback()
    {
        QFETCH(QByteArray, state);
        QFETCH(QByteArray, action);
        QFETCH(QString, echoed);
        TestDatabase database;
        AuthReplica server(database);
        QVERIFY(server.store->createAccount("ada@example.com", password).index() == 0);
        Browser browser { server.port };
        const RawReply page = browser.get("/auth/login?state=" + state.toPercentEncoding());
        QCOMPARE(page.body.contains("name=\"state\""), !echoed.isEmpty());
        QVERIFY(!page.body.contains("<script>alert"));
        // The page's form sends back what it was given.
        const RawReply reply = browser.post(
            "/auth/login", form(action, "ada@example.com", password) + "&state=" + state.toPercentEncoding());
        const QUrlQuery callback = callbackOf(reply);
        QVERIFY(!callback.isEmpty());
        QCOMPARE(
            callback.allQueryItemValues("state"), echoed.isEmpty() ? QStringList() : QStringList { echoed });
        QCOMPARE(callback.allQueryItemValues("token").size(), action == "signin" ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSigninHardening)
#include "test_signin_hardening.moc"
