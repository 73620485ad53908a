#include "account/AuthManager.h"
#include "common/Settings.h"
#include "support/ScriptedHttpServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QUrlQuery>

#include <qcoro/qcorotimer.h>

using Reply = ScriptedHttpServer::Reply;

namespace
{

QByteArray ada()
{
    User user;
    user.id = QStringLiteral("1");
    user.email = QStringLiteral("ada@example.com");
    return user.encode();
}

bool nothingStored()
{
    return !Settings::contains(AuthManager::tokenKey) && !Settings::contains(AuthManager::userKey);
}

// The browser's answer to a sign-in; `state` by default answers a new one of `manager`'s.
bool signIn(AuthManager &manager, const QString &token, QString state = {})
{
    if (state.isNull())
        state = QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state");
    return QCoro::waitFor(
        manager.handleAuthCallback(QUrl("tellwind://callback?token=" + token + "&state=" + state)));
}

// A keyring in memory that answers later, as a real one does, and may refuse writes.
class FakeKeyring : public SecretStore
{
public:
    QMap<QString, QString> secrets;
    bool refuseWrites = false;

    bool isKeyring() const override { return true; }
    QCoro::Task<Read> read(QString key) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        co_return Read { secrets.contains(key) ? std::optional(secrets.value(key)) : std::nullopt, {} };
    }
    QCoro::Task<std::optional<QString>> write(QString key, QString value) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (refuseWrites)
            co_return QStringLiteral("the keyring is locked");
        secrets.insert(key, value);
        co_return std::nullopt;
    }
    QCoro::Task<std::optional<QString>> remove(QString key) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        secrets.remove(key);
        co_return std::nullopt;
    }
};

} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedHttpServer> server;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QFile::remove(Settings::filePath());
        server = std::make_unique<ScriptedHttpServer>();
        server->fallback = Reply(200, ada());
        Settings::setString(AuthManager::baseURLKey, server->baseUrl());
    }

    // Refused, and never sent on: callbacks not asked for, and tokens that could break a header.
    void callbacksThisProgramDidNotAskForAreRefused()
    {
        const QString answer = "tellwind://callback?token=%1&state=STATE"; // STATE: one issued here
        const QString elsewhere = "Sign-in was not started from this computer";
        const QString noToken = "No authentication token received";
        const struct {
            QString link;
            int minutesLater;
            bool usedBefore;
            QString error;
        } cases[] = { { answer.arg("t0k3n"), 9, false, {} },
            { "tellwind://callback?token=t0k3n", 0, false, elsewhere },
            { answer.arg("t0k3n"), 11, false, elsewhere },
            { answer.arg("t0k3n"), 0, true, elsewhere }, // too late; replayed
            // Its text could be anything an attacker wants the user to read.
            { "tellwind://callback?error=Visit%20evil.example", 0, false, elsewhere },
            { answer.arg("abc%0D%0AX-Injected:%201"), 0, false, noToken },
            { answer.arg(QString(4097, 'a')), 0, false, noToken } };
        for (auto [link, minutesLater, usedBefore, error] : cases) {
            init();
            QDateTime now = QDateTime::currentDateTimeUtc();
            AuthManager manager;
            manager.setClock([&now] { return now; });
            link.replace("STATE", QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state"));
            if (usedBefore) {
                QVERIFY(QCoro::waitFor(manager.handleAuthCallback(QUrl(link))));
                manager.signOut();
                server->requests.clear();
            }
            now = now.addSecs(minutesLater * 60);
            QCOMPARE(QCoro::waitFor(manager.handleAuthCallback(QUrl(link))), error.isEmpty());
            QVERIFY2(manager.isAuthenticated() == error.isEmpty(), qPrintable(link));
            if (!error.isEmpty())
                QVERIFY(manager.errorMessage() == error && server->requests.isEmpty() && nothingStored());
        }

        // Clicking "Sign In" over and over keeps the newest sign-ins open.
        init();
        QDateTime now = QDateTime::currentDateTimeUtc();
        AuthManager manager;
        manager.setClock([&now] { return now; });
        QStringList states;
        for (int i = 0; i <= AuthManager::maximumPendingSignIns; ++i, now = now.addSecs(1))
            states << QUrlQuery(QUrl(manager.beginSignIn())).queryItemValue("state");
        QVERIFY(!signIn(manager, "t0k3n", states.first()));
        QVERIFY(signIn(manager, "t0k3n", states.at(1)));
        manager.signOut();
        QVERIFY(signIn(manager, "t0k3n", states.last()));
    }

    // An old version's token moves from the settings file unless the keyring refuses; a sign-out clears it.
    void tokenLivesInTheKeyring()
    {
        // legacy: the token starts in the settings file.
        for (const auto &[legacy, refuseWrites] :
            { std::pair(true, false), std::pair(true, true), std::pair(false, false) }) {
            init();
            auto store = std::make_unique<FakeKeyring>();
            QMap<QString, QString> &keyring = store->secrets;
            store->refuseWrites = refuseWrites;
            Settings::setData(AuthManager::userKey, ada());
            if (legacy)
                Settings::setString(AuthManager::tokenKey, "old-t0k3n");
            else
                keyring.insert(AuthManager::tokenKey, "old-t0k3n");
            AuthManager manager(std::move(store));
            QVERIFY(manager.tokenInKeyring());
            QTRY_VERIFY(manager.isAuthenticated());
            QCOMPARE(manager.sessionToken(), QString("old-t0k3n"));
            QCOMPARE(Settings::contains(AuthManager::tokenKey), refuseWrites);
            QCOMPARE(keyring.value(AuthManager::tokenKey), refuseWrites ? QString() : QString("old-t0k3n"));
            QTRY_VERIFY(!server->requests.isEmpty());
            QCOMPARE(server->requests.first().header("Authorization"), QByteArray("Bearer old-t0k3n"));

            if (refuseWrites)
                continue;
            QVERIFY(signIn(manager, "new-t0k3n"));
            QTRY_COMPARE(keyring.value(AuthManager::tokenKey), QString("new-t0k3n"));
            QVERIFY(!Settings::contains(AuthManager::tokenKey));
            manager.signOut();
            QTRY_VERIFY(keyring.isEmpty());
            QVERIFY(nothingStored() && !manager.sessionToken());
        }
    }

    // Only a rejection ends a stored session; a token that could break a header is never sent.
    void storedSessionsChecked()
    {
        const struct {
            const char *token;
            int status;
            bool kept;
        } cases[] = { { "t0k3n", 401, false }, { "t0k3n", 403, false }, { "t0k3n", 500, true },
            { "abc\r\nX-Injected: 1", 200, false } };
        for (const auto &[token, status, kept] : cases) {
            init();
            server->fallback = Reply(status, R"({"type":"error","error":"whatever"})");
            Settings::setString(AuthManager::tokenKey, token);
            Settings::setData(AuthManager::userKey, ada());
            AuthManager manager;
            QCoro::waitFor(manager.verifySession());
            QVERIFY2(manager.isAuthenticated() == kept && nothingStored() == !kept, token);
            QCOMPARE(server->requests.isEmpty(), status == 200);
        }
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "test_auth_manager.moc"
