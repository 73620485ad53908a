#pragma once

#include <QCommandLineOption>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

class QCommandLineParser;

// Where accounts are kept and whom the sign-in pages believe about a client's
// address. Read from the command line by both `serve` and `add-user`.
struct AccountOptions {
    // Empty: an SQLite file in the data folder. Otherwise
    // postgresql://USER@HOST:PORT/DB, optionally with ?host=/socket/folder.
    QString databaseUrl;
    // From --database-password-file or PGPASSWORD; never printed.
    QString databasePassword;
    // Connections from these (address, prefix length) pairs may name the
    // client in X-Forwarded-For; everyone else is taken at their socket address.
    QList<QPair<QHostAddress, int>> trustedProxies;

    static QList<QCommandLineOption> commandLineOptions();
    // False, with the reason in `error`, when an option is unusable.
    bool read(const QCommandLineParser &parser, QString *error);
};

// The parts of a postgresql:// address Qt's driver is given separately.
struct PostgresAddress {
    QString user;
    QString host; // a folder (starting with '/') means a Unix socket there
    int port = 5432;
    QString database;

    // Nothing, with the reason, for anything else (and for a password in the
    // address, which would show in every process listing).
    static std::optional<PostgresAddress> parse(const QString &url, QString *error);
};
