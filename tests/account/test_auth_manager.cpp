#include "account/AuthManager.h"
#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "support/ScriptedHttpServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using Reply = ScriptedHttpServer::Reply;

namespace
{

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

// The link as the server sends it back for a sign-in this manager started.
QString answering(AuthManager &manager, const QString &link)
{
    if (!link.contains(u'?'))
        return link;
    const QString state = QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state");
    return link + (link.endsWith(u'?') ? "" : "&") + "state=" + state;
}

bool signIn(AuthManager &manager, const QString &link)
{
    return QCoro::waitFor(manager.handleAuthCallback(QUrl(answering(manager, link))));
}

bool signInWithoutAsking(AuthManager &manager, const QString &link)
{
    return QCoro::waitFor(manager.handleAuthCallback(QUrl(link)));
}

const QString notStartedHere = QStringLiteral("Sign-in was not started from this computer");

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
        const QString link = answering(manager, "tellwind://callback?token=" + token);
        manager.handleDeepLink(QUrl(link));
        QTRY_VERIFY(manager.isAuthenticated() && !manager.isLoading());
        QVERIFY(manager.errorMessage().isNull());
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().method + ' ' + server.requests.first().target, "GET /api/auth/me");
        QCOMPARE(server.requests.first().header("Authorization"), "Bearer " + token.toLatin1());
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        QCOMPARE(manager.currentUser(), user("ada@example.com"));
        QVERIFY(log.lines().contains(
            "🔗 [Auth] Received deep link: tellwind://callback?token=<redacted>&state=<redacted>"));

        server.requests.clear();
        server.fallback = rejected;
        const QString noToken = QStringLiteral("No authentication token received");
        const QList<QPair<QString, QString>> cases {
            { "tellwind://callback", "Invalid callback URL" },
            { "tellwind://callback?", noToken },
            { "tellwind://callback?token=&error=Access%20denied%20by%20you", "Access denied by you" },
            // Tokens that must never reach a header.
            { "tellwind://callback?token=abc%0D%0AX-Injected:%201", noToken },
            { "tellwind://callback?token=abc%00def", noToken },
            { "tellwind://callback?token=%C3%A9t%C3%A9", noToken },
            { "tellwind://callback?token=" + QString(4097, 'a'), noToken },
            // Well-formed tokens the server does not know.
            { "tellwind://callback?token=" + QString(4096, 'a'), "Failed to fetch user data" },
        };
        for (const auto &[url, message] : cases) {
            QVERIFY2(!signIn(manager, url), qPrintable(url));
            QVERIFY2(manager.errorMessage() == message, qPrintable(url + " gave " + manager.errorMessage()));
            QVERIFY(manager.isAuthenticated() && !manager.isLoading());
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }
        QCOMPARE(server.requests.size(), 1); // only the well-formed token was sent
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
        QCOMPARE(failureFor("ftp://127.0.0.1"), QString("Invalid server URL"));
        QVERIFY(failureFor(ScriptedHttpServer().baseUrl()).startsWith("Network error: "));

        ScriptedHttpServer server;
        server.fallback = Reply::withheld();
        QCOMPARE(failureFor(server.baseUrl(), 300ms), QString("Network error: The request timed out."));
        const QList<QPair<Reply, QString>> answers {
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

        // A stored token that could break the header is dropped unsent.
        storeSession("abc\r\nX-Injected: 1", user("old@example.com").encode());
        {
            AuthManager manager;
            QTRY_VERIFY(!manager.isAuthenticated() && nothingStored());
        }
        QCOMPARE(server.requests.size(), 1);

        // An answer that comes after the user signed in again is about a session that is gone.
        server.fallback = Reply::withheld();
        storeSession("first-token", user("first@example.com").encode());
        AuthManager manager;
        QTRY_COMPARE(server.requests.size(), 2);
        manager.saveAuth(user("second@example.com"), "second-token");
        QVERIFY(server.answerHeld(rejected));
        QTest::qWait(200);
        QCOMPARE(manager.currentUser()->email, QString("second@example.com"));
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), "second-token");
    }

    void callbacksThisProgramDidNotAskForAreRefused_data()
    {
        QTest::addColumn<QString>("link"); // STATE: one this manager issued
        QTest::addColumn<int>("minutesLater");
        QTest::addColumn<bool>("usedBefore");
        QTest::addColumn<bool>("accepted");
        QTest::addRow("answering a sign-in started here")
            << "tellwind://callback?token=t0k3n&state=STATE" << 9 << false << true;
        QTest::addRow("without a state") << "tellwind://callback?token=t0k3n" << 0 << false << false;
        QTest::addRow("with a state from elsewhere")
            << "tellwind://callback?token=t0k3n&state=bm90LWlzc3VlZC1oZXJlLWF0LWFsbA" << 0 << false << false;
        QTest::addRow("more than ten minutes later")
            << "tellwind://callback?token=t0k3n&state=STATE" << 11 << false << false;
        QTest::addRow("replayed") << "tellwind://callback?token=t0k3n&state=STATE" << 0 << true << false;
        // Its text could be anything an attacker wants the user to read.
        QTest::addRow("an error from elsewhere")
            << "tellwind://callback?error=Visit%20evil.example" << 0 << false << false;
    }
    void callbacksThisProgramDidNotAskForAreRefused()
    {
        QFETCH(QString, link);
        QFETCH(int, minutesLater);
        QFETCH(bool, usedBefore);
        QFETCH(bool, accepted);
        ScriptedHttpServer server;
        server.fallback = Reply(200, user("ada@example.com").encode());
        useServer(server.baseUrl());
        QDateTime now = QDateTime::currentDateTimeUtc();
        AuthManager manager;
        manager.setClock([&now] { return now; });
        const QUrl signInPage(manager.beginSignIn());
        QCOMPARE(signInPage.adjusted(QUrl::RemoveQuery), QUrl(server.baseUrl() + "/auth/login"));
        const QString state = QUrlQuery(signInPage).queryItemValue("state");
        QVERIFY(state.size() >= 40);
        QVERIFY(QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state") != state);
        link.replace("STATE", state);
        if (usedBefore) {
            QVERIFY(signInWithoutAsking(manager, link));
            manager.signOut();
            server.requests.clear();
        }
        now = now.addSecs(minutesLater * 60);
        LogCapture log;
        QCOMPARE(signInWithoutAsking(manager, link), accepted);
        QCOMPARE(manager.isAuthenticated(), accepted);
        if (!accepted) {
            QCOMPARE(manager.errorMessage(), notStartedHere);
            QVERIFY(server.requests.isEmpty() && nothingStored());
            QVERIFY(log.lines().contains(
                "⚠️ [Auth] Refused a sign-in callback that this program did not ask for"));
        }
    }

    void signOutEndsTheSessionHereWhateverTheServerSays_data()
    {
        QTest::addColumn<int>("status"); // 0: no server
        QTest::addRow("revoked") << 200;
        QTest::addRow("server error") << 500;
        QTest::addRow("no server") << 0;
    }
    void signOutEndsTheSessionHereWhateverTheServerSays()
    {
        QFETCH(int, status);
        ScriptedHttpServer server;
        server.fallback = Reply(200, user("ada@example.com").encode());
        useServer(status ? server.baseUrl() : ScriptedHttpServer().baseUrl());
        AuthManager manager;
        manager.saveAuth(user("ada@example.com"), "t0k3n");
        server.fallback = Reply::withheld();
        manager.signOut();
        // At once, before any answer.
        QVERIFY(!manager.isAuthenticated() && !manager.currentUser() && nothingStored());
        if (!status)
            return;
        QTRY_COMPARE(server.requests.size(), 1);
        const auto &request = server.requests.first();
        QCOMPARE(request.method + ' ' + request.target, "POST /api/auth/logout");
        QCOMPARE(request.header("Authorization"), "Bearer t0k3n");
        QVERIFY(server.answerHeld(Reply(status, R"({"type":"signedOut"})")));
    }

    void onlyARejectionEndsAStoredSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("kept");
        QTest::addRow("unauthorized") << 401 << false;
        QTest::addRow("forbidden") << 403 << false;
        QTest::addRow("internal error") << 500 << true;
        QTest::addRow("unavailable") << 503 << true;
        QTest::addRow("not found") << 404 << true;
    }
    void onlyARejectionEndsAStoredSession()
    {
        QFETCH(int, status);
        QFETCH(bool, kept);
        ScriptedHttpServer server;
        server.fallback = Reply(status, R"({"type":"error","error":"whatever"})");
        useServer(server.baseUrl());
        storeSession("t0k3n", user("ada@example.com").encode());
        {
            LogCapture log;
            AuthManager manager;
            QTRY_COMPARE(server.requests.size(), 1);
            if (kept) {
                QTRY_VERIFY(log.lines().contains(
                    QStringLiteral("⚠️ [Auth] Session verification failed: HTTP %1").arg(status)));
                QVERIFY(manager.isAuthenticated());
                QCOMPARE(Settings::stringValue(AuthManager::tokenKey), "t0k3n");
            } else {
                QTRY_VERIFY(!manager.isAuthenticated());
                QVERIFY(nothingStored());
            }
        }
        // The next start asks again.
        if (kept) {
            server.fallback
                = Reply(200, R"({"token":"t0k3n","user":)" + user("ada@example.com").encode() + "}");
            AuthManager manager;
            QTRY_COMPARE(server.requests.size(), 2);
            QVERIFY(manager.isAuthenticated());
        }
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "test_auth_manager.moc"
