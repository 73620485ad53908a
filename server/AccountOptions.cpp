#include "AccountOptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QUrl>
#include <QUrlQuery>

#include <optional>

namespace
{

const QString databaseOption = QStringLiteral("database");
const QString passwordFileOption = QStringLiteral("database-password-file");
const QString trustedProxyOption = QStringLiteral("trusted-proxy");

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

QList<QCommandLineOption> AccountOptions::commandLineOptions()
{
    return {
        QCommandLineOption(databaseOption,
            QStringLiteral("Keep accounts in PostgreSQL instead of the data folder: "
                           "postgresql://USER@HOST:PORT/DB (the password comes from "
                           "--database-password-file or PGPASSWORD)."),
            QStringLiteral("URL")),
        QCommandLineOption(passwordFileOption,
            QStringLiteral("File whose first line is the database password."), QStringLiteral("FILE")),
        QCommandLineOption(trustedProxyOption,
            QStringLiteral("Address (or ADDR/PREFIX) of a reverse proxy whose "
                           "X-Forwarded-For names the client; may be repeated."),
            QStringLiteral("ADDR")),
    };
}

bool AccountOptions::read(const QCommandLineParser &parser, QString *error)
{
    if (parser.isSet(databaseOption)) {
        databaseUrl = parser.value(databaseOption);
        if (!PostgresAddress::parse(databaseUrl, error))
            return false;
        if (parser.isSet(passwordFileOption)) {
            QFile file(parser.value(passwordFileOption));
            if (!file.open(QIODevice::ReadOnly))
                return fail(error,
                    QStringLiteral("cannot read the database password file %1: %2")
                        .arg(file.fileName(), file.errorString()));
            databasePassword
                = QString::fromUtf8(file.readLine(4096)).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        } else {
            databasePassword = qEnvironmentVariable("PGPASSWORD");
        }
    } else if (parser.isSet(passwordFileOption)) {
        return fail(error, QStringLiteral("--database-password-file needs --database"));
    }

    for (const QString &text : parser.values(trustedProxyOption)) {
        QPair<QHostAddress, int> subnet;
        if (text.contains(QLatin1Char('/'))) {
            subnet = QHostAddress::parseSubnet(text);
        } else if (QHostAddress address; address.setAddress(text)) {
            subnet = { address, address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32 };
        }
        if (subnet.first.isNull() || subnet.second < 0)
            return fail(error, QStringLiteral("--trusted-proxy wants an IP address, such as 127.0.0.1"));
        trustedProxies.append(subnet);
    }
    return true;
}

std::optional<PostgresAddress> PostgresAddress::parse(const QString &url, QString *error)
{
    const auto refuse = [error](const QString &reason) -> std::optional<PostgresAddress> {
        fail(error, reason);
        return std::nullopt;
    };
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid()
        || (parsed.scheme() != QLatin1String("postgresql") && parsed.scheme() != QLatin1String("postgres")))
        return refuse(QStringLiteral("--database wants postgresql://USER@HOST:PORT/DB"));
    if (!parsed.password().isEmpty())
        return refuse(QStringLiteral("--database must not contain the password: use --database-password-file "
                                     "or PGPASSWORD"));
    PostgresAddress address;
    address.user = parsed.userName();
    address.host = parsed.host();
    address.port = parsed.port(5432);
    address.database = parsed.path().mid(1);
    const QUrlQuery query(parsed);
    if (query.hasQueryItem(QStringLiteral("host")))
        address.host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (address.user.isEmpty() || address.host.isEmpty() || address.database.isEmpty()
        || address.database.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("--database wants postgresql://USER@HOST:PORT/DB"));
    return address;
}
