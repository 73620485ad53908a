#include "AuthRig.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

class TestServerAuth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void createAccountSignInAndUseTheToken()
    {
        TestDatabase database;
        AuthReplica server(database);
        Browser browser { server.port };
        const RawReply created = browser.post(
            "/auth/login", form("create", "Ada@Example.COM", "analytical engine", "Ada Lovelace"));
        const QString token = tokenFrom(created);
        QVERIFY(!token.isEmpty() && created.header("Set-Cookie").contains("HttpOnly"));

        const QJsonObject user = jsonOf(getFrom(server.port, "/api/auth/me", bearer(token)));
        QCOMPARE(
            QStringList({ user["email"].toString(), user["name"].toString(), user["provider"].toString() }),
            QStringList({ "ada@example.com", "Ada Lovelace", "email" }));
        QVERIFY(!user["id"].toString().isEmpty());
        // Seconds since the start of 2001.
        QVERIFY(qAbs(user["createdAt"].toDouble() + 978307200 - QDateTime::currentSecsSinceEpoch()) < 60);
        QCOMPARE(jsonOf(getFrom(server.port, "/api/auth/verify", bearer(token))),
            (QJsonObject { { "user", user }, { "token", token } }));

        // The browser session shows the account; without it the page sends
        // the browser to sign in, and it is no bearer token.
        QVERIFY(browser.get("/auth/account").body.contains("ada@example.com"));
        QVERIFY(getFrom(server.port, "/auth/account").header("Location").startsWith("/auth/login"));
        QCOMPARE(
            getFrom(server.port, "/api/auth/me", bearer(browser.cookies.value(AuthEndpoints::cookieName)))
                .status,
            401);

        // Signing in again, in any case of the address, gives a second token.
        Browser other { server.port };
        const QString second
            = tokenFrom(other.post("/auth/login", form("signin", "ADA@example.com", "analytical engine")));
        QVERIFY(!second.isEmpty() && second != token);
        QCOMPARE(getFrom(server.port, "/api/auth/me", bearer(second)).status, 200);
        QCOMPARE(getFrom(server.port, "/api/auth/me", bearer(token)).status, 200);

        if (TestDatabase::isPostgres())
            return;
        // Neither the password nor a token is in the owner-only database file.
        QFile file(server.store->databasePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("$argon2id$"));
        for (const QString &secret : { QString("analytical engine"), token, second })
            QVERIFY(!bytes.contains(secret.toLatin1()));
        QCOMPARE(file.permissions() & 0x0077, QFile::Permissions());
    }

    void bearerTokensAreCheckedStrictlyAndExpireAfterThirtyDays()
    {
        TestDatabase database;
        AuthReplica server(database);
        const QDateTime start = QDateTime::currentDateTimeUtc();
        QDateTime now = start;
        server.store->setClock([&now] { return now; });
        Browser browser { server.port };
        const QString token
            = tokenFrom(browser.post("/auth/login", form("create", "linus@example.com", "password1")));
        const QString missing = QStringLiteral("Missing bearer token"),
                      invalid = QStringLiteral("Invalid session token");
        const QList<QPair<QByteArray, QString>> cases { { {}, missing },
            { "Authorization: Basic YTpi", missing }, { "Authorization: Bearer", missing },
            { bearer("unknown-token"), invalid }, { bearer(token.left(42)), invalid },
            { bearer(token.toUpper()), invalid }, { bearer(QString(5000, 'a')), invalid },
            { bearer(token) + "\x01", invalid } };
        for (const QByteArray path : { "/api/auth/me", "/api/auth/verify" }) {
            for (const auto &[header, message] : cases) {
                const RawReply reply = getFrom(server.port, path, header);
                QCOMPARE(reply.status, 401);
                QVERIFY(reply.header("Content-Type").startsWith("application/json"));
                QCOMPARE(jsonOf(reply), (QJsonObject { { "type", "error" }, { "error", message } }));
            }
            // The scheme name is case-insensitive.
            QCOMPARE(getFrom(server.port, path, "authorization: bearer " + token.toLatin1()).status, 200);
        }

        now = start.addDays(29);
        QCOMPARE(getFrom(server.port, "/api/auth/me", bearer(token)).status, 200);
        now = start.addDays(30).addSecs(1);
        QCOMPARE(jsonOf(getFrom(server.port, "/api/auth/verify", bearer(token))).value("error").toString(),
            QString("Session expired"));
        // Gone for good, even if the clock goes back.
        now = start;
        QCOMPARE(getFrom(server.port, "/api/auth/me", bearer(token)).status, 401);
    }

    void wrongCredentialsAndBadInputGetAClearRefusalAndChangeNothing()
    {
        TestDatabase database;
        AuthReplica server(database);
        Browser browser { server.port };
        QCOMPARE(
            browser.post("/auth/login", form("create", "alan@example.com", "enigma machine")).status, 303);
        const QByteArray csrf = "&csrf=" + browser.csrf();
        const QByteArray cookies = browser.cookieHeader();
        struct Case {
            const char *what;
            QByteArray body;
            int status = 400;
            QByteArray header = "Content-Type: application/x-www-form-urlencoded";
        };
        const QList<Case> cases {
            { "wrong password", form("signin", "alan@example.com", "Enigma machine"), 401 },
            { "unknown address", form("signin", "nobody@example.com", "enigma machine"), 401 },
            { "address taken", form("create", "Alan@example.com", "another password"), 409 },
            { "oversized form", form("create", "big@example.com", QByteArray(20000, 'a')), 413 },
            { "not a web form", R"({"email":"json@example.com"})", 415, "Content-Type: application/json" },
            { "no content type", "action=create&email=a%40example.com&password=12345678", 415, {} },
            { "unknown action", form("delete", "alan@example.com", "x") },
            { "SQL in the address", form("create", "x@example.com'; DROP TABLE users; --", "password1") },
            { "SQL as the password", form("signin", "alan@example.com", "' OR 1=1 --"), 401 },
            { "non-UTF-8 address", "action=create&email=%FF%FEa%40example.com&password=password1" },
            { "overlong UTF-8 password", "action=create&email=b%40example.com&password=%C0%AFpassword" },
            { "control character in the name", form("create", "f@example.com", "password1", "Eve\x1b[31m") },
            { "overlong name", form("create", "g@example.com", "password1", QByteArray(101, 'n')) },
            { "address without a domain", form("create", "a@b", "long enough") },
            { "address with two dots", form("create", "a..b@example.com", "long enough") },
            { "address not in ASCII", form("create", "ä@example.com", "long enough") },
        };
        for (const Case &c : cases) {
            const RawReply reply
                = rawRequest(server.port, "POST", "/auth/login", c.body + csrf, { c.header, cookies });
            QVERIFY2(reply.status == c.status, c.what);
            QVERIFY2(reply.header("Location").isEmpty() && reply.header("Set-Cookie").isEmpty(), c.what);
            QVERIFY2(reply.body.contains("class=\"error\""), c.what);
        }
        QVERIFY(browser.post("/auth/login", form("create", "a@@example.com", "long enough"))
                    .body.contains("Enter a valid email address"));
        QCOMPARE(server.store->accountCount(), 1);
        QCOMPARE(
            browser.post("/auth/login", form("signin", "alan@example.com", "enigma machine")).status, 303);
        const RawReply wrong = browser.post("/auth/login", form("signin", "alan@example.com", "x"));
        QVERIFY(wrong.body.contains("The email address or the password is not correct."));
        QVERIFY(wrong.body.contains("value=\"alan@example.com\"")); // filled in again
        // Cancelling hands the program an error instead of a token.
        QCOMPARE(browser.post("/auth/login", "action=cancel").header("Location"),
            QByteArray("tellwind://callback?error=Sign-in%20was%20cancelled"));

        // What comes back into the page is escaped, and the return path
        // cannot point at another site.
        const RawReply reflected
            = browser.post("/auth/login", form("signin", "<script>alert(1)</script>", "x"));
        QVERIFY(!reflected.body.contains("<script>") && reflected.body.contains("&lt;script&gt;"));
        for (const QByteArray &target :
            QByteArrayList { "//evil.example/", "https://evil.example/", "/\\evil.example" }) {
            const RawReply page = browser.get("/auth/login?returnTo=" + target.toPercentEncoding());
            QVERIFY(page.body.contains("name=\"returnTo\" value=\"/auth/account\""));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "test_server_auth.moc"
