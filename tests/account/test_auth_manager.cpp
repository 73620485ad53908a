#include "account/AuthManager.h"
#include "account/LogRedaction.h"
#include "account/ManualHttpServer.h"
#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "server_auth/LoopbackAuthServer.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;

namespace {

void useServer(const QString &baseUrl)
{
    Settings::setString(AuthManager::baseURLKey, baseUrl);
}

// A loopback port that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

User userFor(const AccountStore::Account &account)
{
    User user;
    user.id = account.id;
    user.email = account.email;
    user.name = account.name;
    user.provider = AuthProvider::email;
    user.setCreatedAtDate(account.createdAt);
    return user;
}

void storeSession(const QString &token, const User &user)
{
    Settings::setString(AuthManager::tokenKey, token);
    Settings::setData(AuthManager::userKey, user.encode());
}

QString logText(LogCapture &log)
{
    return log.lines().join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool nothingStored()
{
    return !Settings::contains(AuthManager::tokenKey) && !Settings::contains(AuthManager::userKey);
}

} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(Settings::filePath()); }

    void callbackLinkSignsInWithOneRequest()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        AccountStore::Account account;
        const QString token = server.signedInToken("ada@example.com", &account);
        useServer(server.baseUrl());

        LogCapture log;
        AuthManager manager;
        QSignalSpy loading(&manager, &AuthManager::isLoadingChanged);
        QSignalSpy authenticated(&manager, &AuthManager::isAuthenticatedChanged);
        manager.handleDeepLink(QUrl("tellwind://callback?token=" + token));
        QTRY_VERIFY(manager.isAuthenticated());
        QTRY_COMPARE(loading.count(), 2);
        QCOMPARE(loading.at(0).at(0).toBool(), true);
        QCOMPARE(loading.at(1).at(0).toBool(), false);
        QCOMPARE(authenticated.count(), 1);
        QTRY_VERIFY(logText(log).contains("✅ [Auth] OAuth callback successful\n"));

        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().path, QString("/api/auth/me"));
        QCOMPARE(server.requests.first().authorization, "Bearer " + token.toLatin1());

        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        const auto stored = User::decode(Settings::dataValue(AuthManager::userKey).value_or(QByteArray()));
        QVERIFY(stored);
        QCOMPARE(*stored, userFor(account));
        QCOMPARE(manager.currentUser(), stored);
        QCOMPARE(manager.currentUserValue().value<User>().email, QString("ada@example.com"));
        QVERIFY(manager.errorMessage().isNull());

        // The settings file now holds a secret: owner-only.
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(Settings::filePath()) & others, QFile::Permissions());

        const QString output = logText(log);
        QVERIFY(output.contains("🔗 [Auth] Received deep link: tellwind://callback?token=<redacted>\n"));
        QVERIFY(!output.contains(token));

        manager.signOut();
        QVERIFY(!manager.isAuthenticated());
        QVERIFY(!manager.currentUser());
        QVERIFY(!manager.currentUserValue().isValid());
        QVERIFY(nothingStored());
    }

    void callbackFailuresKeepTheSession()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        const QString token = server.signedInToken("grace@example.com");
        useServer(server.baseUrl());
        AuthManager manager;
        QVERIFY(QCoro::waitFor(manager.handleAuthCallback(QUrl("tellwind://callback?token=" + token))));
        server.requests.clear();

        const QString noToken = QStringLiteral("No authentication token received");
        const QList<QPair<QString, QString>> cases{
            {"tellwind://callback", "Invalid callback URL"},
            {"tellwind://callback#token=abc", "Invalid callback URL"},
            {"tellwind://callback?", noToken},
            {"tellwind://callback?state=1&token", noToken},
            {"tellwind://callback?token=&error=Access%20denied%20by%20you", "Access denied by you"},
            {"tellwind://callback?error=server_error&error=second", "server_error"},
            // Tokens that must never reach a header.
            {"tellwind://callback?token=abc%0D%0AX-Injected:%201", noToken},
            {"tellwind://callback?token=abc%0Adef", noToken},
            {"tellwind://callback?token=abc%00def", noToken},
            {"tellwind://callback?token=abc%20def", noToken},
            {"tellwind://callback?token=abc%09def", noToken},
            {"tellwind://callback?token=%C3%A9t%C3%A9", noToken},
            {"tellwind://callback?token=" + QString(4097, 'a'), noToken},
            // Well-formed tokens the server does not know.
            {"tellwind://callback?token=" + QString(4096, 'a'), "Failed to fetch user data"},
            {"tellwind://callback?token=unknown&error=ignored", "Failed to fetch user data"},
        };
        for (const auto &[url, message] : cases) {
            QVERIFY2(!QCoro::waitFor(manager.handleAuthCallback(QUrl(url))), qPrintable(url));
            QVERIFY2(manager.errorMessage() == message, qPrintable(url + " gave " + manager.errorMessage()));
            QVERIFY(manager.isAuthenticated());
            QVERIFY(!manager.isLoading());
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }
        QCOMPARE(server.requests.size(), 2);
        for (const auto &request : server.requests) {
            QVERIFY(!request.authorization.contains('\r') && !request.authorization.contains('\n'));
            QVERIFY(request.authorization.size() <= 4096 + 7);
        }
    }

    void serverAndNetworkFailuresAreReported()
    {
        const auto failureFor = [](const QString &baseUrl, std::chrono::milliseconds timeout = 60s) {
            useServer(baseUrl);
            AuthManager manager;
            manager.setRequestTimeout(timeout);
            const bool signedIn = QCoro::waitFor(manager.handleAuthCallback(QUrl("tellwind://callback?token=t0k3n")));
            if (signedIn || manager.isAuthenticated() || !nothingStored() || manager.isLoading())
                return QStringLiteral("state changed");
            return manager.errorMessage();
        };

        QCOMPARE(failureFor("not a server"), QString("Invalid server URL"));
        QCOMPARE(failureFor("ftp://127.0.0.1"), QString("Invalid server URL"));
        QCOMPARE(failureFor("http://"), QString("Invalid server URL"));

        const QString refused = failureFor(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        QVERIFY2(refused.startsWith("Network error: ") && refused.size() > 15, qPrintable(refused));

        ManualHttpServer silent;
        QCOMPARE(failureFor(silent.baseUrl(), 300ms), QString("Network error: The request timed out."));

        // Answers that are not a usable account record.
        LoopbackAuthServer fake;
        QVERIFY(fake.dir.isValid());
        QByteArray answer;
        int status = 200;
        fake.http.route("/api/auth/me", [&](const QHttpServerRequest &) {
            return QHttpServerResponse("application/json", answer, QHttpServerResponse::StatusCode(status));
        });
        fake.port = fake.http.listen(QHostAddress::LocalHost, 0);

        answer = R"({"id":"1","email":"a@example.com","provider":"github"})";
        QCOMPARE(failureFor(fake.baseUrl()),
                 QString("Network error: The provider 'github' is not one of google, apple, email."));
        answer = R"({"id":"1","provider":"email"})";
        QCOMPARE(failureFor(fake.baseUrl()), QString("Network error: The member 'email' is missing."));
        answer = R"({"id":1,"email":"a@example.com","provider":"email"})";
        QCOMPARE(failureFor(fake.baseUrl()), QString("Network error: The member 'id' is not a string."));
        answer = "<html>";
        QVERIFY(failureFor(fake.baseUrl()).startsWith("Network error: The data is not valid JSON"));
        status = 500;
        answer = R"({"id":"1","email":"a@example.com","provider":"email"})";
        QCOMPARE(failureFor(fake.baseUrl()), QString("Failed to fetch user data"));

        // Extra members are ignored; a name and a creation time come through.
        status = 200;
        answer = R"({"id":"1","email":"a@example.com","provider":"apple","name":"A","createdAt":86400.5,"plan":"pro"})";
        useServer(fake.baseUrl());
        AuthManager manager;
        QVERIFY(QCoro::waitFor(manager.handleAuthCallback(QUrl("tellwind://callback?token=t0k3n"))));
        QCOMPARE(manager.currentUser()->provider, AuthProvider::apple);
        QCOMPARE(manager.currentUser()->name, QString("A"));
        QCOMPARE(*manager.currentUser()->createdAtDate(), QDateTime::fromString("2001-01-02T00:00:00.500Z", Qt::ISODateWithMs));
    }

    void startupTrustsAndThenChecksTheStoredSession()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        AccountStore::Account account;
        const QString token = server.signedInToken("linus@example.com", &account);
        useServer(server.baseUrl());

        // A token without a user record is no session, and nothing is asked.
        Settings::setString(AuthManager::tokenKey, token);
        {
            AuthManager manager;
            QVERIFY(!manager.isAuthenticated());
            QTest::qWait(100);
            QVERIFY(server.requests.isEmpty());
        }

        // A stored session is published at once, then refreshed from the
        // server; the stored token stays.
        User stale = userFor(account);
        stale.email = QStringLiteral("old@example.com");
        storeSession(token, stale);
        {
            AuthManager manager;
            QVERIFY(manager.isAuthenticated());
            QCOMPARE(manager.currentUser()->email, QString("old@example.com"));
            QTRY_COMPARE(manager.currentUser()->email, QString("linus@example.com"));
            QCOMPARE(server.requestsTo("/api/auth/verify").size(), 1);
            QCOMPARE(server.requestsTo("/api/auth/verify").first().authorization, "Bearer " + token.toLatin1());
            QCOMPARE(User::decode(*Settings::dataValue(AuthManager::userKey))->email, QString("linus@example.com"));
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }

        // The network being down keeps the session and says why in the log.
        useServer(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        {
            LogCapture log;
            AuthManager manager;
            QTRY_VERIFY(logText(log).contains("⚠️ [Auth] Session verification failed: "));
            QVERIFY(manager.isAuthenticated());
            QCOMPARE(Settings::stringValue(AuthManager::tokenKey), token);
        }

        // A session the server rejects is dropped with both keys.
        useServer(server.baseUrl());
        storeSession(QStringLiteral("revoked-token"), userFor(account));
        {
            AuthManager manager;
            QVERIFY(manager.isAuthenticated());
            QTRY_VERIFY(!manager.isAuthenticated());
            QVERIFY(!manager.currentUser());
            QVERIFY(nothingStored());
        }

        // A stored token that could break the header is dropped unsent.
        server.requests.clear();
        storeSession(QStringLiteral("abc\r\nX-Injected: 1"), userFor(account));
        {
            AuthManager manager;
            QTRY_VERIFY(!manager.isAuthenticated());
            QVERIFY(nothingStored());
            QVERIFY(server.requests.isEmpty());
        }

        // A stored record the program cannot read leaves both keys alone.
        Settings::setString(AuthManager::tokenKey, token);
        Settings::setData(AuthManager::userKey, R"({"id":"1","email":"x@example.com","provider":"myspace"})");
        {
            AuthManager manager;
            QVERIFY(!manager.isAuthenticated());
            QTest::qWait(100);
            QVERIFY(server.requests.isEmpty());
            QVERIFY(Settings::contains(AuthManager::userKey));
        }
    }

    void lateVerificationAnswersDoNotTouchANewerSession()
    {
        ManualHttpServer slow;
        useServer(slow.baseUrl());
        User first;
        first.id = QStringLiteral("1");
        first.email = QStringLiteral("first@example.com");
        storeSession(QStringLiteral("first-token"), first);

        AuthManager manager;
        QTRY_COMPARE(slow.pending.size(), 1);
        User second = first;
        second.id = QStringLiteral("2");
        second.email = QStringLiteral("second@example.com");
        manager.saveAuth(second, QStringLiteral("second-token"));
        slow.respond(401, R"({"type":"error","error":"Invalid session token"})");
        QTest::qWait(200);
        QVERIFY(manager.isAuthenticated());
        QCOMPARE(Settings::stringValue(AuthManager::tokenKey), QString("second-token"));
        QCOMPARE(manager.currentUser()->email, QString("second@example.com"));

        // Signing out while a check is under way: its answer stores nothing.
        AuthManager again;
        QTRY_COMPARE(slow.pending.size(), 1);
        again.signOut();
        slow.respond(200, R"({"token":"second-token","user":{"id":"2","email":"second@example.com","provider":"email"}})");
        QTest::qWait(200);
        QVERIFY(!again.isAuthenticated());
        QVERIFY(nothingStored());
    }

    void deepLinksAreRoutedByHostAndLoggedWithoutSecrets()
    {
        LoopbackAuthServer server;
        QVERIFY(server.start());
        useServer(server.baseUrl());
        LogCapture log;
        AuthManager manager;
        manager.handleDeepLink(QUrl("tellwind://settings?token=secret1&x=1"));
        manager.handleDeepLink(QUrl("tellwind:callback?token=secret2"));
        QTest::qWait(100);
        QVERIFY(server.requests.isEmpty());
        QVERIFY(!manager.isAuthenticated());
        QVERIFY(manager.errorMessage().isNull());
        QCOMPARE(logText(log),
                 QString("🔗 [Auth] Received deep link: tellwind://settings?token=<redacted>&x=1\n"
                         "⚠️ [Auth] Unknown deep link host: settings\n"
                         "🔗 [Auth] Received deep link: tellwind:callback?token=<redacted>\n"));

        QCOMPARE(redactSecrets("tellwind://callback?error=Bad thing happened&token=abc#frag"),
                 QString("tellwind://callback?error=<redacted>&token=<redacted>#frag"));
        QCOMPARE(redactSecrets("x?TOKEN=abc;def&Error=ghi"), QString("x?TOKEN=<redacted>&Error=<redacted>"));
        QCOMPARE(redactSecrets("x?%74oken=abc&mytoken=keep"), QString("x?%74oken=<redacted>&mytoken=keep"));
        QCOMPARE(redactedUrlText(QUrl("tellwind://callback?token=a%2Bb")),
                 QString("tellwind://callback?token=<redacted>"));
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "test_auth_manager.moc"
