#pragma once

#include "AccountOptions.h"
#include "AccountStore.h"

#include <QSqlDatabase>
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
        const QString server = serverUrl();
        if (server.isEmpty())
            return;
        m_name = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
        admin([this](QSqlQuery &query) { query.exec(QStringLiteral("CREATE DATABASE ") + m_name); });
        QUrl url(server);
        url.setPath(QLatin1Char('/') + m_name);
        m_url = url.toString();
    }
    ~TestDatabase()
    {
        if (!m_name.isEmpty())
            admin([this](QSqlQuery &query) {
                query.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
            });
    }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    static QString serverUrl() { return qEnvironmentVariable("TELLWIND_TEST_DATABASE"); }
    static bool isPostgres() { return !serverUrl().isEmpty(); }

    QString dataDir() const { return m_dir.path() + QStringLiteral("/data"); }
    QString url() const { return m_url; }
    // Every store made here shares the one database, like replicas do.
    std::unique_ptr<AccountStore> store() const { return std::make_unique<AccountStore>(dataDir(), m_url); }

private:
    template <typename Work> static void admin(Work work)
    {
        const auto address = PostgresAddress::parse(serverUrl(), nullptr);
        if (!address)
            return;
        const QString name = QStringLiteral("admin-") + QUuid::createUuid().toString();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(address->host);
            db.setPort(address->port);
            db.setUserName(address->user);
            db.setDatabaseName(address->database);
            if (db.open()) {
                QSqlQuery query(db);
                work(query);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    QTemporaryDir m_dir;
    QString m_name;
    QString m_url;
};
