#include "PasswordHasher.h"
#include "TestDatabase.h"

#include <QCryptographicHash>
#include <QStandardPaths>
#include <QTest>

namespace
{

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

class TestAccountMigrations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        QVERIFY(database.execute(QStringList(std::begin(unversionedSchema), std::end(unversionedSchema))
            << QStringLiteral("INSERT INTO users VALUES ('u1', 'ada@example.com', 'Ada', 'email', '%1', %2)")
                   .arg(QString::fromLatin1(PasswordHasher::hashNow("analytical engine")))
                   .arg(now / 1000)
            << QStringLiteral("INSERT INTO sessions VALUES ('%1', 'u1', 'app', %2, %3)")
                   .arg(QString::fromLatin1(tokenHash))
                   .arg(now)
                   .arg(now + 86400000)));
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

QTEST_GUILESS_MAIN(TestAccountMigrations)
#include "test_account_migrations.moc"
