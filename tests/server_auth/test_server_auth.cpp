#include "server_auth/LoopbackAuthServer.h"
#include "server_auth/RawHttp.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr qint64 secondsFrom1970To2001 = 978307200;

QByteArray bearer(const QString &token)
{
    return "Authorization: Bearer " + token.toLatin1();
}

QString tokenFrom(const RawReply &reply)
{
    const QUrl location(QString::fromLatin1(reply.header("Location")));
    if (location.scheme() != QLatin1String("tellwind") || location.host() != QLatin1String("callback"))
        return {};
    return QUrlQuery(location).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
}

QByteArray cookieFrom(const RawReply &reply)
{
    for (const QByteArray &cookie : reply.setCookies) {
        if (cookie.startsWith(AuthEndpoints::cookieName + '='))
            return cookie.split(';').first();
    }
    return {};
}

QJsonObject jsonOf(const RawReply &reply)
{
    return QJsonDocument::fromJson(reply.body).object();
}

RawReply createAccount(LoopbackAuthServer &server, const QByteArray &email, const QByteArray &password,
                       const QByteArray &name = {})
{
    return postForm(server.port, "/auth/login",
                    formBody({{"returnTo", "/auth/account"},
                              {"email", email},
                              {"password", password},
                              {"name", name},
                              {"action", "create"}}));
}

RawReply signIn(LoopbackAuthServer &server, const QByteArray &email, const QByteArray &password)
{
    return postForm(server.port, "/auth/login",
                    formBody({{"email", email}, {"password", password}, {"action", "signin"}}));
}

int sessionCount(LoopbackAuthServer &server)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
    db.setDatabaseName(server.store.databasePath());
    int count = -1;
    if (db.open()) {
        QSqlQuery query(db);
        if (query.exec("SELECT COUNT(*) FROM sessions") && query.next())
            count = query.value(0).toInt();
        db.close();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("inspect");
    return count;
}

} // namespace

class TestServerAuth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void createAccountSignInAndUseTheToken()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());

        const RawReply page = rawRequest(server.port, "GET", "/auth/login?returnTo=/auth/account");
        QCOMPARE(page.status, 200);
        QVERIFY(page.header("Content-Type").startsWith("text/html"));
        QVERIFY(page.body.contains("name=\"returnTo\" value=\"/auth/account\""));
        QVERIFY(page.body.contains("type=\"password\""));

        const RawReply created = createAccount(server, "Ada@Example.COM", "analytical engine", "Ada Lovelace");
        QCOMPARE(created.status, 303);
        const QString token = tokenFrom(created);
        QCOMPARE(token.size(), 43); // 256 random bits, base64url
        const QByteArray cookie = cookieFrom(created);
        QVERIFY(!cookie.isEmpty());
        QVERIFY(created.setCookies.first().contains("HttpOnly"));

        const RawReply me = rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(token)});
        QCOMPARE(me.status, 200);
        const QJsonObject user = jsonOf(me);
        QCOMPARE(user.value("email").toString(), QString("ada@example.com"));
        QCOMPARE(user.value("name").toString(), QString("Ada Lovelace"));
        QCOMPARE(user.value("provider").toString(), QString("email"));
        QVERIFY(!user.value("id").toString().isEmpty());
        const double createdAt = user.value("createdAt").toDouble();
        QVERIFY(qAbs(createdAt + secondsFrom1970To2001 - QDateTime::currentSecsSinceEpoch()) < 60);

        const RawReply verify = rawRequest(server.port, "GET", "/api/auth/verify", {}, {bearer(token)});
        QCOMPARE(verify.status, 200);
        QCOMPARE(jsonOf(verify).value("token").toString(), token);
        QCOMPARE(jsonOf(verify).value("user").toObject(), user);

        // The browser session shows the account; without it the page sends
        // the browser to sign in.
        const RawReply account = rawRequest(server.port, "GET", "/auth/account", {}, {"Cookie: " + cookie});
        QCOMPARE(account.status, 200);
        QVERIFY(account.body.contains("ada@example.com"));
        const RawReply anonymous = rawRequest(server.port, "GET", "/auth/account");
        QCOMPARE(anonymous.status, 303);
        QVERIFY(anonymous.header("Location").startsWith("/auth/login"));

        // Signing in again issues a second, independent token; any case of
        // the address finds the account.
        const RawReply again = signIn(server, "ADA@example.com", "analytical engine");
        QCOMPARE(again.status, 303);
        const QString second = tokenFrom(again);
        QVERIFY(!second.isEmpty() && second != token);
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(second)}).status, 200);
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(token)}).status, 200);

        // A signed-in browser can hand the program a fresh token without the
        // password.
        const RawReply page2 = rawRequest(server.port, "GET", "/auth/login", {}, {"Cookie: " + cookie});
        QVERIFY(page2.body.contains("You are signed in as <strong>ada@example.com</strong>"));
        const RawReply resumed = postForm(server.port, "/auth/login", "action=continue", {"Cookie: " + cookie});
        QCOMPARE(resumed.status, 303);
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(tokenFrom(resumed))}).status, 200);

        // The browser cookie is not a bearer token, and signing the browser
        // out ends only the browser session.
        const QString browserToken = QString::fromLatin1(cookie.mid(AuthEndpoints::cookieName.size() + 1));
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(browserToken)}).status, 401);
        const RawReply loggedOut = postForm(server.port, "/auth/logout", "action=logout", {"Cookie: " + cookie});
        QCOMPARE(loggedOut.status, 303);
        QCOMPARE(rawRequest(server.port, "GET", "/auth/account", {}, {"Cookie: " + cookie}).status, 303);
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(token)}).status, 200);

        // Neither the password nor a token is in the database file, and only
        // the owner can read it.
        QFile file(server.store.databasePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains("analytical engine"));
        QVERIFY(!bytes.contains(token.toLatin1()));
        QVERIFY(!bytes.contains(second.toLatin1()));
        QVERIFY(bytes.contains("$argon2id$"));
        QCOMPARE(QFile::permissions(server.store.databasePath())
                     & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
    }

    void wrongCredentialsAndDuplicatesChangeNothing()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        QCOMPARE(createAccount(server, "grace@example.com", "cobol rules ok").status, 303);
        const int sessions = sessionCount(server);

        for (const auto &[email, password] : QList<QPair<QByteArray, QByteArray>>{
                 {"grace@example.com", "cobol rules OK"},
                 {"grace@example.com", ""},
                 {"nobody@example.com", "cobol rules ok"}}) {
            const RawReply reply = signIn(server, email, password);
            QCOMPARE(reply.status, 401);
            QVERIFY(reply.header("Location").isEmpty());
            QVERIFY(reply.setCookies.isEmpty());
            QVERIFY(reply.body.contains("The email address or the password is not correct."));
            // The page comes back with the address filled in.
            QVERIFY(reply.body.contains("value=\"" + email + "\""));
        }

        const RawReply duplicate = createAccount(server, "Grace@example.com", "another password");
        QCOMPARE(duplicate.status, 409);
        QVERIFY(duplicate.body.contains("already exists"));
        QCOMPARE(server.store.accountCount(), 1);
        QCOMPARE(sessionCount(server), sessions);
        // The first password still works.
        QCOMPARE(signIn(server, "grace@example.com", "cobol rules ok").status, 303);

        // Cancelling hands the program an error instead of a token.
        const RawReply cancelled = postForm(server.port, "/auth/login", "action=cancel");
        QCOMPARE(cancelled.status, 303);
        QCOMPARE(cancelled.header("Location"), QByteArray("tellwind://callback?error=Sign-in%20was%20cancelled"));
    }

    void bearerTokensAreCheckedStrictly()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        const QString token = server.signedInToken("linus@example.com");
        QVERIFY(!token.isEmpty());

        const QList<QPair<QList<QByteArray>, QString>> cases{
            {{}, "Missing bearer token"},
            {{"Authorization: Basic " + QByteArray("a:b").toBase64()}, "Missing bearer token"},
            {{"Authorization: Bearer"}, "Missing bearer token"},
            {{"Authorization: Bearer unknown-token"}, "Invalid session token"},
            {{"Authorization: Bearer " + token.toLatin1() + "x"}, "Invalid session token"},
            {{"Authorization: Bearer " + token.left(42).toLatin1()}, "Invalid session token"},
            {{"Authorization: Bearer " + QByteArray(5000, 'a')}, "Invalid session token"},
            {{"Authorization: Bearer " + token.toLatin1() + "\x01"}, "Invalid session token"},
        };
        for (const QByteArray &path : {QByteArray("/api/auth/me"), QByteArray("/api/auth/verify")}) {
            for (const auto &[headers, message] : cases) {
                const RawReply reply = rawRequest(server.port, "GET", path, {}, headers);
                QCOMPARE(reply.status, 401);
                QVERIFY(reply.header("Content-Type").startsWith("application/json"));
                QCOMPARE(jsonOf(reply), (QJsonObject{{"type", "error"}, {"error", message}}));
            }
            // The scheme name is case-insensitive; the token is not.
            QCOMPARE(rawRequest(server.port, "GET", path, {}, {"authorization: bearer " + token.toLatin1()}).status,
                     200);
            QCOMPARE(rawRequest(server.port, "GET", path, {}, {bearer(token.toUpper())}).status, 401);
        }
    }

    void sessionsExpireAfterThirtyDays()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        const QDateTime start = QDateTime::currentDateTimeUtc();
        QDateTime now = start;
        server.store.setClock([&now] { return now; });
        const QString token = server.signedInToken("ken@example.com");

        now = start.addDays(29);
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(token)}).status, 200);

        now = start.addDays(30).addSecs(1);
        const RawReply expired = rawRequest(server.port, "GET", "/api/auth/verify", {}, {bearer(token)});
        QCOMPARE(expired.status, 401);
        QCOMPARE(jsonOf(expired).value("error").toString(), QString("Session expired"));
        // An expired session is gone for good, even if the clock went back.
        QCOMPARE(sessionCount(server), 0);
        now = start;
        QCOMPARE(rawRequest(server.port, "GET", "/api/auth/me", {}, {bearer(token)}).status, 401);
    }

    void badInputGetsAClearRefusalAndChangesNothing()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        QCOMPARE(createAccount(server, "alan@example.com", "enigma machine").status, 303);
        const int sessions = sessionCount(server);

        struct Case {
            const char *what;
            QByteArray body;
            int status;
            QByteArray contentType = "application/x-www-form-urlencoded";
        };
        const QByteArray sqlEmail = "x@example.com'; DROP TABLE users; --";
        const QList<Case> cases{
            {"oversized form", "action=create&email=big%40example.com&password=" + QByteArray(20000, 'a'), 413},
            {"not a web form", R"({"email":"json@example.com"})", 415, "application/json"},
            {"no content type", "action=create&email=a%40example.com&password=12345678", 415, ""},
            {"no action", formBody({{"email", "alan@example.com"}, {"password", "enigma machine"}}), 400},
            {"unknown action",
             formBody({{"action", "delete"}, {"email", "alan@example.com"}, {"password", "x"}}), 400},
            {"SQL in the address", formBody({{"action", "create"}, {"email", sqlEmail}, {"password", "password1"}}),
             400},
            {"SQL as the address",
             formBody({{"action", "signin"}, {"email", "' OR '1'='1"}, {"password", "' OR '1'='1"}}), 400},
            {"SQL as the password",
             formBody({{"action", "signin"}, {"email", "alan@example.com"}, {"password", "' OR 1=1 --"}}), 401},
            {"non-UTF-8 address", "action=create&email=%FF%FEa%40example.com&password=password1", 400},
            {"overlong UTF-8 password", "action=create&email=b%40example.com&password=%C0%AFpassword", 400},
            {"non-UTF-8 field name", "action=create&%FF=1&email=c%40example.com&password=password1", 400},
            {"short password", formBody({{"action", "create"}, {"email", "d@example.com"}, {"password", "short"}}),
             400},
            {"control character in the password",
             formBody({{"action", "create"}, {"email", "e@example.com"}, {"password", "pass\nword1"}}), 400},
            {"control character in the name",
             formBody({{"action", "create"}, {"email", "f@example.com"}, {"password", "password1"},
                       {"name", "Eve\x1b[31m"}}),
             400},
            {"overlong name",
             formBody({{"action", "create"}, {"email", "g@example.com"}, {"password", "password1"},
                       {"name", QByteArray(101, 'n')}}),
             400},
        };
        for (const Case &c : cases) {
            QList<QByteArray> headers;
            if (!c.contentType.isEmpty())
                headers.append("Content-Type: " + c.contentType);
            const RawReply reply = rawRequest(server.port, "POST", "/auth/login", c.body, headers);
            QVERIFY2(reply.status == c.status, c.what);
            QVERIFY2(reply.header("Location").isEmpty() && reply.setCookies.isEmpty(), c.what);
            QVERIFY2(reply.header("Content-Type").startsWith("text/html"), c.what);
            QVERIFY2(reply.body.contains("class=\"error\""), c.what);
        }
        for (const QByteArray &email : {QByteArray("plainaddress"), QByteArray("@example.com"), QByteArray("a@b"),
                                       QByteArray("a@@example.com"), QByteArray("a b@example.com"),
                                       QByteArray(".a@example.com"), QByteArray("a..b@example.com"),
                                       QByteArray("a@-example.com"), QByteArray("a@example.c0m"),
                                       QByteArray("ä@example.com"), QByteArray(250, 'a') + "@example.com"}) {
            const RawReply reply = createAccount(server, email, "long enough");
            QVERIFY2(reply.status == 400, email.constData());
            QVERIFY(reply.body.contains("Enter a valid email address"));
        }

        QCOMPARE(server.store.accountCount(), 1);
        QCOMPARE(sessionCount(server), sessions);
        QCOMPARE(signIn(server, "alan@example.com", "enigma machine").status, 303);

        // What comes back into the page is escaped, and the return path
        // cannot point at another site.
        const RawReply reflected = signIn(server, "<script>alert(1)</script>", "x");
        QVERIFY(!reflected.body.contains("<script>"));
        QVERIFY(reflected.body.contains("&lt;script&gt;"));
        for (const QByteArray &target : {QByteArray("//evil.example/"), QByteArray("https://evil.example/"),
                                        QByteArray("/\\evil.example"), QByteArray("javascript:alert(1)")}) {
            const RawReply page = rawRequest(server.port, "GET",
                                             "/auth/login?returnTo=" + target.toPercentEncoding());
            QCOMPARE(page.status, 200);
            QVERIFY(page.body.contains("name=\"returnTo\" value=\"/auth/account\""));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "test_server_auth.moc"
