#include "TellwindServer.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>

namespace {

std::optional<std::pair<QHostAddress, quint16>> parseListen(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    QHostAddress address;
    if (host.isEmpty() || host == QLatin1String("localhost"))
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(host))
        return std::nullopt;
    return std::pair { address, quint16(port) };
}

} // namespace

QString TellwindServer::defaultDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/tellwind-server");
}

std::optional<TellwindServer::Options> TellwindServer::parseArguments(const QStringList &arguments, QString *error,
                                                                      QStringList *positional)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tellwind's speech and sign-in backend."));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port to listen on (default 127.0.0.1:8750)."),
                                    QStringLiteral("HOST:PORT"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Folder for the server's data (default %1).").arg(defaultDataDir()),
                                     QStringLiteral("DIR"));
    const QCommandLineOption decoders(QStringLiteral("decoders"),
                                      QStringLiteral("Number of speech decoders working in parallel."),
                                      QStringLiteral("N"));
    const QCommandLineOption clientTimeout(
        QStringLiteral("client-timeout"),
        QStringLiteral("Seconds a client may take to send its headers, or pause while sending a body (default 10)."),
        QStringLiteral("SECONDS"));
    parser.addOptions({ listen, dataDir, decoders, clientTimeout });
    parser.addOptions(AccountOptions::commandLineOptions());
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("Subcommand (default: serve)."),
                                 QStringLiteral("[command [arguments...]]"));
    if (!parser.parse(arguments)) {
        if (error)
            *error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        if (error)
            *error = parser.helpText();
        return std::nullopt;
    }

    Options options;
    if (parser.isSet(listen)) {
        const auto endpoint = parseListen(parser.value(listen));
        if (!endpoint) {
            if (error)
                *error = QStringLiteral("--listen wants HOST:PORT, for example 127.0.0.1:8750");
            return std::nullopt;
        }
        options.address = endpoint->first;
        options.port = endpoint->second;
    }
    options.dataDir = parser.isSet(dataDir) ? parser.value(dataDir) : defaultDataDir();
    if (parser.isSet(decoders)) {
        bool ok = false;
        options.decoderThreads = parser.value(decoders).toInt(&ok);
        if (!ok || options.decoderThreads < 1 || options.decoderThreads > 64) {
            if (error)
                *error = QStringLiteral("--decoders wants a number from 1 to 64");
            return std::nullopt;
        }
    }
    if (parser.isSet(clientTimeout)) {
        bool ok = false;
        const double seconds = parser.value(clientTimeout).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 3600) {
            if (error)
                *error = QStringLiteral("--client-timeout wants a number of seconds");
            return std::nullopt;
        }
        const auto timeout = std::chrono::milliseconds(qint64(seconds * 1000));
        options.limits.headerTimeout = timeout;
        options.limits.bodyIdleTimeout = timeout;
    }
    if (!options.accounts.read(parser, error))
        return std::nullopt;
    if (positional)
        *positional = parser.positionalArguments();
    return options;
}

TellwindServer::TellwindServer(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    if (m_options.dataDir.isEmpty())
        m_options.dataDir = defaultDataDir();

    m_http.setMissingHandler([](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        const QByteArray path = request.url().path().toUtf8();
        logRequest(methodName(request.method()), path, 404, request.body().size());
        respond(responder, 404, errorJson(QStringLiteral("Not found: %1").arg(request.url().path())));
    });
    // Routes that answer at once are logged here; the speech endpoint
    // answers later and logs itself.
    m_http.afterRequest([](QHttpServerResponse &&response, const QHttpServerRequest &request) {
        logRequest(methodName(request.method()), request.url().path().toUtf8(), int(response.statusCode()),
                   request.body().size());
        return std::move(response);
    });
}

TellwindServer::~TellwindServer() = default;

int TellwindServer::decoderThreads() const
{
    if (m_options.decoderThreads > 0)
        return m_options.decoderThreads;
    return std::clamp(QThread::idealThreadCount(), 2, 4);
}

bool TellwindServer::listen(QString *error)
{
    QDir dir;
    if (!dir.mkpath(m_options.dataDir)) {
        if (error)
            *error = QStringLiteral("cannot create the data folder %1").arg(m_options.dataDir);
        return false;
    }
    QFile::setPermissions(m_options.dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    m_guard = new ConnectionGuard(m_options.limits,
                                  [](const QByteArray &method, const QByteArray &path, int status, qint64 bytes) {
                                      logRequest(method, path, status, bytes);
                                  });
    m_guard->setHttpLayer(&m_http);
    if (!m_guard->listen(m_options.address, m_options.port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(m_options.address.toString())
                         .arg(m_options.port)
                         .arg(m_guard->errorString());
        delete m_guard;
        m_guard = nullptr;
        return false;
    }
    m_http.bind(m_guard);
    return true;
}

quint16 TellwindServer::port() const
{
    return m_guard ? m_guard->serverPort() : 0;
}

void TellwindServer::logRequest(const QByteArray &method, const QByteArray &path, int status, qint64 bodyBytes,
                                qint64 decodeMilliseconds)
{
    // Paths come from the network: keep the line one line.
    QByteArray safePath = path.left(200);
    for (char &c : safePath) {
        if (uchar(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    QByteArray line = method.left(16) + ' ' + safePath + " -> " + QByteArray::number(status) + " ("
        + QByteArray::number(bodyBytes) + " bytes";
    if (decodeMilliseconds >= 0)
        line += ", decode " + QByteArray::number(decodeMilliseconds) + " ms";
    line += ")\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

QByteArray TellwindServer::methodName(QHttpServerRequest::Method method)
{
    const char *key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QByteArray(key).toUpper() : QByteArray("UNKNOWN");
}

QByteArray TellwindServer::errorJson(const QString &message)
{
    return QJsonDocument(QJsonObject { { QStringLiteral("type"), QStringLiteral("error") },
                                       { QStringLiteral("error"), message } })
        .toJson(QJsonDocument::Compact);
}

void TellwindServer::respond(QHttpServerResponder &responder, int status, const QByteArray &json,
                             QHttpServerResponder::HeaderList extraHeaders)
{
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    responder.writeHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(json.size()));
    responder.writeHeaders(extraHeaders);
    responder.writeBody(json);
}
