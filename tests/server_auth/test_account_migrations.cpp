#include "PasswordHasher.h"
#include "TestDatabase.h"

#include <QCryptographicHash>
#include <QSqlError>
#include <QStandardPaths>
#include <QTest>

namespace
{

// What the server wrote before its schema had versions.
const char *const unversionedSchema[] = {
    "CREATE TABLE IF NOT EXISTS users ("
    " id TEXT PRIMARY KEY,"
    " email TEXT NOT NULL UNIQUE,"
    " name TEXT,"
    " provider TEXT NOT NULL DEFAULT 'email',"
    " passwordHash TEXT NOT NULL,"
    " createdAt INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS sessions ("
    " tokenHash TEXT PRIMARY KEY,"
    " userId TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
    " kind TEXT NOT NULL,"
    " createdAt INTEGER NOT NULL,"
    " expiresAt INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS sessionsByExpiry ON sessions(expiresAt)",
};

bool execAll(QSqlDatabase db, const QStringList &statements)
{
    QSqlQuery query(db);
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            qWarning() << statement << query.lastError().text();
            return false;
        }
    }
    return true;
}

} // namespace

class TestAccountMigrations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void anEmptyDatabaseGetsTheWholeSchemaOnce()
    {
        TestDatabase database;
        {
            auto store = database.store();
            QString error;
            QVERIFY2(store->open(&error), qPrintable(error));
            QCOMPARE(store->appliedSchemaVersion(), AccountStore::schemaVersion);
            QVERIFY(store->createAccount("ada@example.com", "analytical engine").index() == 0);
            QVERIFY(store->isReachable());
        }
        // Opened again, and by a second process at the same time: nothing
        // runs twice (a repeated column would fail) and nothing is lost.
        auto again = database.store();
        auto replica = database.store();
        QString error;
        QVERIFY2(again->open(&error) && replica->open(&error), qPrintable(error));
        QCOMPARE(replica->appliedSchemaVersion(), AccountStore::schemaVersion);
        QVERIFY(replica->authenticate("ada@example.com", "analytical engine").index() == 0);
    }

    void aDatabaseFromBeforeVersionsKeepsItsAccountsAndSessions()
    {
        if (TestDatabase::isPostgres())
            QSKIP("Before versions there was only SQLite");
        TestDatabase database;
        QVERIFY(QDir().mkpath(database.dataDir()));
        const QString connection = QStringLiteral("old-server");
        const QString oldToken = QStringLiteral("token-from-the-old-server");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(database.dataDir() + QStringLiteral("/accounts.sqlite"));
            QVERIFY(db.open());
            QStringList statements;
            for (const char *statement : unversionedSchema)
                statements.append(QString::fromLatin1(statement));
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            const QString tokenHash = QString::fromLatin1(
                QCryptographicHash::hash(oldToken.toUtf8(), QCryptographicHash::Sha256).toHex());
            statements.append(
                QStringLiteral("INSERT INTO users VALUES ('u1', 'ada@example.com', 'Ada', 'email', '%1', %2)")
                    .arg(QString::fromLatin1(PasswordHasher::hashNow("analytical engine")))
                    .arg(now / 1000));
            statements.append(QStringLiteral("INSERT INTO sessions VALUES ('%1', 'u1', 'app', %2, %3)")
                                  .arg(tokenHash)
                                  .arg(now)
                                  .arg(now + 86400000));
            QVERIFY(execAll(db, statements));
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);

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

    void aNewerSchemaIsLeftAlone()
    {
        TestDatabase database;
        {
            auto store = database.store();
            QVERIFY(store->open());
        }
        {
            const QString connection = QStringLiteral("newer");
            QSqlDatabase db;
            if (TestDatabase::isPostgres()) {
                const auto address = PostgresAddress::parse(database.url(), nullptr);
                QVERIFY(address);
                db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
                db.setHostName(address->host);
                db.setPort(address->port);
                db.setUserName(address->user);
                db.setDatabaseName(address->database);
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
                db.setDatabaseName(database.dataDir() + QStringLiteral("/accounts.sqlite"));
            }
            QVERIFY(db.open());
            QVERIFY(execAll(db, { QStringLiteral("INSERT INTO schema_version VALUES (99, 0)") }));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection);
        }
        auto store = database.store();
        QString error;
        QVERIFY(!store->open(&error));
        QVERIFY2(error.contains("newer"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestAccountMigrations)
#include "test_account_migrations.moc"
