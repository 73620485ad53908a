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

User user(const QString &email)
{
    User user;
    user.id = QStringLiteral("1");
    user.email = email;
    return user;
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
    const QString state = QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state");
    return link + "&state=" + state;
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

    void callbackLinkSignsInAndBadCallbacksKeepTheSession()
    {
        ScriptedHttpServer server;
        server.fallback = Reply(200, user("ada@example.com").encode());
        Settings::setString(AuthManager::baseURLKey, server.baseUrl());
        const QString token = QStringLiteral("Xk3-secret_token-42");
        LogCapture log;
        AuthManager manager;
        manager.handleDeepLink(QUrl(answering(manager, "tellwind://callback?token=" + token)));
        QTRY_VERIFY(manager.isAuthenticated() && !manager.isLoading());
        QCOMPARE(server.requests.first().target, "/api/auth/me");
        QCOMPARE(server.requests.first().header("Authorization"), "Bearer " + token.toLatin1());
        QCOMPARE(manager.currentUser(), user("ada@example.com"));
        QVERIFY(log.lines().contains(
            "🔗 [Auth] Received deep link: tellwind://callback?token=<redacted>&state=<redacted>"));

        server.requests.clear();
        server.fallback = Reply(401, R"({"type":"error","error":"Invalid session token"})");
        const QString noToken = QStringLiteral("No authentication token received");
        const QList<QPair<QString, QString>> cases {
            { "tellwind://callback?token=&error=Access%20denied", "Access denied" },
            // Tokens that must never reach a header.
            { "tellwind://callback?token=abc%0D%0AX-Injected:%201", noToken },
            { "tellwind://callback?token=" + QString(4097, 'a'), noToken },
            { "tellwind://callback?token=unknown", "Failed to fetch user data" },
        };
        for (const auto &[url, message] : cases) {
            QVERIFY2(!signIn(manager, answering(manager, url)), qPrintable(url));
            QCOMPARE(manager.errorMessage(), message);
            QVERIFY(manager.isAuthenticated());
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }
        QCOMPARE(server.requests.size(), 1); // only the well-formed token was sent
        QVERIFY(!log.lines().join('\n').contains(token));

        server.fallback = Reply::withheld();
        manager.setRequestTimeout(300ms);
        QVERIFY(!signIn(manager, answering(manager, "tellwind://callback?token=t0k3n")));
        QCOMPARE(manager.errorMessage(), QString("Network error: The request timed out."));
        QVERIFY(manager.isAuthenticated() && !manager.isLoading());

        // Signing out ends the session here at once, whatever the server makes of it.
        server.requests.clear();
        manager.signOut();
        QVERIFY(!manager.isAuthenticated() && !manager.currentUser() && nothingStored());
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(
            server.requests.first().method + ' ' + server.requests.first().target, "POST /api/auth/logout");
        QCOMPARE(server.requests.first().header("Authorization"), "Bearer " + token.toLatin1());
    }

    void startupTrustsAndThenChecksTheStoredSession()
    {
        ScriptedHttpServer server;
        Settings::setString(AuthManager::baseURLKey, server.baseUrl());
        // A stored session is published at once, then refreshed from the server.
        storeSession("t0k3n", user("old@example.com").encode());
        server.fallback = Reply(200, R"({"token":"t0k3n","user":)" + user("new@example.com").encode() + "}");
        {
            AuthManager manager;
            QCOMPARE(manager.currentUser()->email, QString("old@example.com"));
            QTRY_COMPARE(manager.currentUser()->email, QString("new@example.com"));
            QCOMPARE(server.requests.first().target, "/api/auth/verify");
            QCOMPARE(User::decode(*Settings::dataValue(AuthManager::userKey)), user("new@example.com"));
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
        QVERIFY(server.answerHeld(Reply(401)));
        QTest::qWait(200);
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), "second-token");
    }

    void callbacksThisProgramDidNotAskForAreRefused_data()
    {
        QTest::addColumn<QString>("link"); // STATE: one this manager issued
        QTest::addColumn<int>("minutesLater");
        QTest::addColumn<bool>("usedBefore");
        QTest::addColumn<bool>("accepted");
        const QString answer = QStringLiteral("tellwind://callback?token=t0k3n&state=STATE");
        QTest::addRow("answering a sign-in started here") << answer << 9 << false << true;
        QTest::addRow("without a state") << "tellwind://callback?token=t0k3n" << 0 << false << false;
        QTest::addRow("more than ten minutes later") << answer << 11 << false << false;
        QTest::addRow("replayed") << answer << 0 << true << false;
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
        Settings::setString(AuthManager::baseURLKey, server.baseUrl());
        QDateTime now = QDateTime::currentDateTimeUtc();
        AuthManager manager;
        manager.setClock([&now] { return now; });
        link.replace("STATE", QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state"));
        if (usedBefore) {
            QVERIFY(signIn(manager, link));
            manager.signOut();
            server.requests.clear();
        }
        now = now.addSecs(minutesLater * 60);
        QCOMPARE(signIn(manager, link), accepted);
        QCOMPARE(manager.isAuthenticated(), accepted);
        if (!accepted) {
            QCOMPARE(manager.errorMessage(), QString("Sign-in was not started from this computer"));
            QVERIFY(server.requests.isEmpty() && nothingStored());
        }
    }

    void onlyARejectionEndsAStoredSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("kept");
        QTest::addRow("unauthorized") << 401 << false;
        QTest::addRow("forbidden") << 403 << false;
        QTest::addRow("internal error") << 500 << true;
    }
    void onlyARejectionEndsAStoredSession()
    {
        QFETCH(int, status);
        QFETCH(bool, kept);
        ScriptedHttpServer server;
        server.fallback = Reply(status, R"({"type":"error","error":"whatever"})");
        Settings::setString(AuthManager::baseURLKey, server.baseUrl());
        storeSession("t0k3n", user("ada@example.com").encode());
        AuthManager manager;
        QCoro::waitFor(manager.verifySession());
        QCOMPARE(manager.isAuthenticated(), kept);
        QCOMPARE(nothingStored(), !kept);
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "test_auth_manager.moc"
