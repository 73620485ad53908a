#include "account/AuthManager.h"
#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "support/ScriptedHttpServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;

namespace {

const Reply rejected(401, R"({"type":"error","error":"Invalid session token"})");

User user(const QString &email)
{
    User user;
    user.id = QStringLiteral("1");
    user.email = email;
    return user;
}

void useServer(const QString &baseUrl)
{
    Settings::setString(AuthManager::baseURLKey, baseUrl);
}

void storeSession(const QString &token, const QByteArray &user)
{
    Settings::setString(AuthManager::tokenKey, token);
    Settings::setData(AuthManager::userKey, user);
}

bool nothingStored()
{
    return !Settings::contains(AuthManager::tokenKey) && !Settings::contains(AuthManager::userKey);
}

bool signIn(AuthManager &manager, const QString &link)
{
    return QCoro::waitFor(manager.handleAuthCallback(QUrl(link)));
}

} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(Settings::filePath()); }

    void callbackLinkSignsInAndFailedCallbacksKeepTheSession()
    {
        ScriptedHttpServer server;
        // Members the program does not know are ignored.
        server.fallback
            = Reply(200, R"({"id":"1","email":"ada@example.com","provider":"email","plan":"pro"})");
        useServer(server.baseUrl());
        const QString token = QStringLiteral("Xk3-secret_token-42");
        LogCapture log;
        AuthManager manager;
        // Links for anything else are logged without their secrets and go no further.
        manager.handleDeepLink(QUrl("tellwind://settings?token=secret1&error=Sign-in%20failed&x=1"));
        manager.handleDeepLink(QUrl("tellwind:callback?token=secret2"));
        QCOMPARE(log.lines(),
            (QStringList {
                "🔗 [Auth] Received deep link: tellwind://settings?token=<redacted>&error=<redacted>&x=1",
                "⚠️ [Auth] Unknown deep link host: settings",
                "🔗 [Auth] Received deep link: tellwind:callback?token=<redacted>" }));
        manager.handleDeepLink(QUrl("tellwind://callback?token=" + token));
        QTRY_VERIFY(manager.isAuthenticated() && !manager.isLoading());
        QVERIFY(manager.errorMessage().isNull());
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().method + ' ' + server.requests.first().target, "GET /api/auth/me");
        QCOMPARE(server.requests.first().header("Authorization"), "Bearer " + token.toLatin1());
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        QCOMPARE(
            User::decode(Settings::dataValue(AuthManager::userKey).value_or("")), user("ada@example.com"));
        QCOMPARE(manager.currentUser(), user("ada@example.com"));
        // The settings file now holds a secret: owner-only.
        QCOMPARE(QFile::permissions(Settings::filePath()) & 0x0077, QFile::Permissions());
        QTRY_VERIFY(log.lines().contains("✅ [Auth] OAuth callback successful"));
        QVERIFY(log.lines().contains("🔗 [Auth] Received deep link: tellwind://callback?token=<redacted>"));

        server.requests.clear();
        server.fallback = rejected;
        const QString noToken = QStringLiteral("No authentication token received");
        const QList<QPair<QString, QString>> cases {
            { "tellwind://callback", "Invalid callback URL" },
            { "tellwind://callback#token=abc", "Invalid callback URL" },
            { "tellwind://callback?", noToken },
            { "tellwind://callback?token=&error=Access%20denied%20by%20you", "Access denied by you" },
            { "tellwind://callback?error=server_error&error=second", "server_error" },
            // Tokens that must never reach a header.
            { "tellwind://callback?token=abc%0D%0AX-Injected:%201", noToken },
            { "tellwind://callback?token=abc%00def", noToken },
            { "tellwind://callback?token=abc%20def", noToken },
            { "tellwind://callback?token=%C3%A9t%C3%A9", noToken },
            { "tellwind://callback?token=" + QString(4097, 'a'), noToken },
            // Well-formed tokens the server does not know.
            { "tellwind://callback?token=" + QString(4096, 'a'), "Failed to fetch user data" },
            { "tellwind://callback?token=unknown&error=ignored", "Failed to fetch user data" },
        };
        for (const auto &[url, message] : cases) {
            QVERIFY2(!signIn(manager, url), qPrintable(url));
            QVERIFY2(manager.errorMessage() == message, qPrintable(url + " gave " + manager.errorMessage()));
            QVERIFY(manager.isAuthenticated() && !manager.isLoading());
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }
        QCOMPARE(server.requests.size(), 2);
        QVERIFY(!log.lines().join('\n').contains(token));
        manager.signOut();
        QVERIFY(!manager.isAuthenticated() && !manager.currentUser() && nothingStored());
    }

    void serverAndNetworkFailuresAreReported()
    {
        const auto failureFor = [](const QString &baseUrl, std::chrono::milliseconds timeout = 60s) {
            useServer(baseUrl);
            AuthManager manager;
            manager.setRequestTimeout(timeout);
            if (signIn(manager, "tellwind://callback?token=t0k3n") || manager.isAuthenticated()
                || !nothingStored() || manager.isLoading())
                return QStringLiteral("state changed");
            return manager.errorMessage();
        };
        for (const char *invalid : { "not a server", "ftp://127.0.0.1", "http://" })
            QCOMPARE(failureFor(invalid), QString("Invalid server URL"));
        QVERIFY(failureFor(ScriptedHttpServer().baseUrl()).startsWith("Network error: "));

        ScriptedHttpServer server;
        server.fallback = Reply::withheld();
        QCOMPARE(failureFor(server.baseUrl(), 300ms), QString("Network error: The request timed out."));
        const QList<QPair<Reply, QString>> answers {
            { { 200, R"({"id":"1","email":"a@example.com","provider":"github"})" },
                "Network error: The provider 'github' is not one of google, apple, email." },
            { { 200, R"({"id":"1","provider":"email"})" }, "Network error: The member 'email' is missing." },
            { { 200, "<html>" }, "Network error: The data is not valid JSON" },
            { { 500, user("a@example.com").encode() }, "Failed to fetch user data" },
        };
        for (const auto &[reply, message] : answers) {
            server.fallback = reply;
            const QString failure = failureFor(server.baseUrl());
            QVERIFY2(failure.startsWith(message), qPrintable(failure));
        }
    }

    void startupTrustsAndThenChecksTheStoredSession()
    {
        ScriptedHttpServer server;
        useServer(server.baseUrl());
        // A token without a readable user record is no session.
        storeSession("t0k3n", R"({"id":"1","email":"x@example.com","provider":"myspace"})");
        QVERIFY(!AuthManager().isAuthenticated());

        // A stored session is published at once, then refreshed from the server.
        storeSession("t0k3n", user("old@example.com").encode());
        server.fallback = Reply(200, R"({"token":"t0k3n","user":)" + user("new@example.com").encode() + "}");
        {
            AuthManager manager;
            QCOMPARE(manager.currentUser()->email, QString("old@example.com"));
            QTRY_COMPARE(manager.currentUser()->email, QString("new@example.com"));
            QCOMPARE(server.requests.size(), 1);
            QCOMPARE(server.requests.first().target, "/api/auth/verify");
            QCOMPARE(server.requests.first().header("Authorization"), "Bearer t0k3n");
            QCOMPARE(User::decode(*Settings::dataValue(AuthManager::userKey)), user("new@example.com"));
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), "t0k3n");
        }

        // A session the server rejects is dropped with both keys, and a stored
        // token that could break the header is dropped unsent.
        server.fallback = rejected;
        for (const QString &token : { QString("revoked"), QString("abc\r\nX-Injected: 1") }) {
            storeSession(token, user("old@example.com").encode());
            AuthManager manager;
            QTRY_VERIFY(!manager.isAuthenticated());
            QVERIFY(!manager.currentUser() && nothingStored());
        }
        QCOMPARE(server.requests.size(), 2);

        // An answer that comes after the user signed in again is about a session that is gone.
        server.fallback = Reply::withheld();
        storeSession("first-token", user("first@example.com").encode());
        AuthManager manager;
        QTRY_COMPARE(server.requests.size(), 3);
        manager.saveAuth(user("second@example.com"), "second-token");
        QVERIFY(server.answerHeld(rejected));
        QTest::qWait(200);
        QCOMPARE(manager.currentUser()->email, QString("second@example.com"));
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), "second-token");
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "test_auth_manager.moc"
