#include "AccountStore.h"
#include "AuthEndpoints.h"
#include "SpeechEndpoint.h"
#include "TellwindServer.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace
{

int fail(const QString &message)
{
    std::fprintf(stderr, "tellwind-server: %s\n", qPrintable(message));
    return 1;
}

int serve(const TellwindServer::Options &options)
{
    TellwindServer server(options);
    SpeechEndpoint speech(server);
    QString error;
    if (!speech.isReady(&error))
        return fail(QStringLiteral("speech decoding unavailable: %1").arg(error));
    AccountStore accounts(server.dataDir(), options.accounts.databaseUrl, options.accounts.databasePassword);
    if (!accounts.open(&error))
        return fail(QStringLiteral("accounts unavailable: %1").arg(error));
    AuthEndpoints auth(accounts);
    auth.setTrustedProxies(options.accounts.trustedProxies);
    auth.setPublicOrigin(options.publicOrigin);
    if (options.speechNeedsSignIn)
        speech.setAccessCheck(
            [&auth](const QHttpServerRequest &request) { return auth.sessionStatus(request); });
    auth.registerRoutes(server.http());
    if (!server.listen(&error))
        return fail(error);

    // Operations: what /readyz checks, and an orderly stop on SIGTERM.
    server.addReadinessCheck(QStringLiteral("accounts"), [&accounts] { return accounts.isReachable(); });
    server.addReadinessCheck(QStringLiteral("decoders"), [&speech] { return speech.isReady(nullptr); });
    server.stopOnTerminationSignal();

    const QString host = options.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(options.address.toString())
        : options.address.toString();
    TellwindServer::logMessage(
        QStringLiteral("tellwind-server listening on http://%1:%2 (data %3, %4 decoders)")
            .arg(host)
            .arg(server.port())
            .arg(server.dataDir())
            .arg(speech.decoderCount()));
    const int code = QCoreApplication::exec();
    // Every client has its answer by now. A decode still running cannot be
    // interrupted, and waiting for it would only hold up the stop.
    std::fflush(stdout);
    std::_Exit(code);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tellwind-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLWIND_VERSION));

    QString error;
    QStringList command;
    const auto options = TellwindServer::parseArguments(QCoreApplication::arguments(), &error, &command);
    if (!options) {
        if (error.startsWith(QLatin1String("Usage:"))
            || error.startsWith(QLatin1String("tellwind-server "))) {
            std::printf("%s", qPrintable(error));
            return 0;
        }
        return fail(error);
    }

    if (command.isEmpty() || command.first() == QLatin1String("serve"))
        return serve(*options);
    if (command.first() == QLatin1String("add-user")) {
        if (command.size() != 2)
            return fail(
                QStringLiteral("usage: tellwind-server [--data-dir DIR | --database URL] add-user EMAIL"));
        AccountStore store(
            options->dataDir, options->accounts.databaseUrl, options->accounts.databasePassword);
        return AccountStore::runAddUser(store, command.at(1));
    }
    return fail(QStringLiteral("unknown command '%1'").arg(command.first()));
}
