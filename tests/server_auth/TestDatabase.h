#pragma once

#include "AccountOptions.h"
#include "AccountStore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <memory>

// A fresh, empty account database for one test: a data folder for SQLite, or,
// when tests/server_auth/with_postgres.sh has started a cluster and named it
// in TELLWIND_TEST_DATABASE, a database of its own in that cluster.
class TestDatabase
{
public:
    TestDatabase()
    {
        if (!isPostgres())
            return;
        m_name = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
        admin(QStringLiteral("CREATE DATABASE ") + m_name);
        QUrl url(serverUrl());
        url.setPath(QLatin1Char('/') + m_name);
        m_url = url.toString();
    }
    ~TestDatabase()
    {
        if (!m_name.isEmpty())
            admin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
    }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    static QString serverUrl() { return qEnvironmentVariable("TELLWIND_TEST_DATABASE"); }
    static bool isPostgres() { return !serverUrl().isEmpty(); }

    QString dataDir() const { return m_dir.path() + QStringLiteral("/data"); }
    // Every store made here shares the one database, like replicas do.
    std::unique_ptr<AccountStore> store() const { return std::make_unique<AccountStore>(dataDir(), m_url); }

    // Runs `statements` on this test's database as a client of its own would.
    bool execute(const QStringList &statements) const
    {
        return withConnection(m_url, dataDir() + QStringLiteral("/accounts.sqlite"), [&](QSqlQuery &query) {
            for (const QString &statement : statements) {
                if (!query.exec(statement)) {
                    qWarning() << statement << query.lastError().text();
                    return false;
                }
            }
            return true;
        });
    }

private:
    template <typename Work> static bool withConnection(const QString &url, const QString &file, Work work)
    {
        const auto address = PostgresAddress::parse(url, nullptr);
        const QString name = QUuid::createUuid().toString();
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(address ? "QPSQL" : "QSQLITE", name);
            db.setDatabaseName(address ? address->database : file);
            if (address) {
                db.setHostName(address->host);
                db.setPort(address->port);
                db.setUserName(address->user);
            }
            if (db.open()) {
                QSqlQuery query(db);
                done = work(query);
            }
        }
        QSqlDatabase::removeDatabase(name);
        return done;
    }
    static void admin(const QString &statement)
    {
        if (isPostgres())
            withConnection(serverUrl(), {}, [&](QSqlQuery &query) { return query.exec(statement); });
    }

    QTemporaryDir m_dir;
    QString m_name;
    QString m_url;
};
