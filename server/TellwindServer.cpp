#include "TellwindServer.h"

#include "Metrics.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace
{

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
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tellwind-server");
}

std::optional<TellwindServer::Options> TellwindServer::parseArguments(
    const QStringList &arguments, QString *error, QStringList *positional)
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
        QStringLiteral("Number of speech decoders working in parallel."), QStringLiteral("N"));
    const QCommandLineOption clientTimeout(QStringLiteral("client-timeout"),
        QStringLiteral(
            "Seconds a client may take to send its headers, or pause while sending a body (default 5)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption maxUploadSeconds(QStringLiteral("max-upload-seconds"),
        QStringLiteral("Longest speech upload accepted, in seconds of audio (default 30)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption maxUploadsPerClient(QStringLiteral("max-uploads-per-client"),
        QStringLiteral("Speech uploads one client address may have in flight at once (default 2)."),
        QStringLiteral("N"));
    const QCommandLineOption logFormat(QStringLiteral("log-format"),
        QStringLiteral("text (default) or json: one JSON object per line."), QStringLiteral("FORMAT"));
    const QCommandLineOption maxConnectionsPerClient(QStringLiteral("max-connections-per-client"),
        QStringLiteral("Connections one client address may hold open at once (default 16)."),
        QStringLiteral("N"));
    const QCommandLineOption speechAccess(QStringLiteral("speech-access"),
        QStringLiteral("open (default): anyone may upload speech; signed-in: only with a session token."),
        QStringLiteral("open|signed-in"));
    const QCommandLineOption publicOrigin(QStringLiteral("public-origin"),
        QStringLiteral("The address clients reach the server at, such as https://speech.example.org; "
                       "requests naming another host are refused."),
        QStringLiteral("URL"));
    parser.addOptions({ listen, dataDir, decoders, clientTimeout, maxUploadSeconds, maxUploadsPerClient,
        maxConnectionsPerClient, logFormat, speechAccess, publicOrigin });
    SpeechOptions::addOptions(parser);
    parser.addOptions(AccountOptions::commandLineOptions());
    parser.addHelpOption();
    parser.addVersionOption();
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
    if (parser.isSet(QStringLiteral("version"))) {
        if (error)
            *error
                = QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
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
    const auto count = [&](const QCommandLineOption &option, int lowest, int highest, int *value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (ok && *value >= lowest && *value <= highest)
            return true;
        if (error)
            *error = QStringLiteral("--%1 wants a number from %2 to %3")
                         .arg(option.names().first())
                         .arg(lowest)
                         .arg(highest);
        return false;
    };
    if (!count(maxUploadSeconds, 1, 3600, &options.limits.maxUploadSeconds)
        || !count(maxUploadsPerClient, 1, 1000, &options.limits.maxUploadsPerClient)
        || !count(maxConnectionsPerClient, 1, options.limits.maxConnections,
            &options.limits.maxConnectionsPerClient))
        return std::nullopt;
    if (parser.isSet(speechAccess)) {
        const QString access = parser.value(speechAccess);
        if (access != QLatin1String("open") && access != QLatin1String("signed-in")) {
            if (error)
                *error = QStringLiteral("--speech-access wants open or signed-in");
            return std::nullopt;
        }
        options.speechNeedsSignIn = access == QLatin1String("signed-in");
    }
    if (parser.isSet(publicOrigin)) {
        const QUrl url(parser.value(publicOrigin), QUrl::StrictMode);
        if (!url.isValid()
            || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
            || url.host().isEmpty() || !url.userInfo().isEmpty()
            || (!url.path().isEmpty() && url.path() != u"/") || url.hasQuery() || url.hasFragment()) {
            if (error)
                *error = QStringLiteral("--public-origin wants an origin such as https://speech.example.org");
            return std::nullopt;
        }
        options.publicOrigin = url.adjusted(QUrl::RemovePath);
        // The origin a browser names, and the Host it sends: the default port is left out of both.
        const QByteArray host = url.authority(QUrl::FullyEncoded).toLower().toLatin1();
        options.limits.publicHost = host;
        options.limits.publicOrigin = url.scheme().toLatin1() + "://" + host;
    }
    if (parser.isSet(logFormat)) {
        const QString format = parser.value(logFormat);
        if (format == QLatin1String("json")) {
            options.logFormat = LogFormat::json;
        } else if (format != QLatin1String("text")) {
            if (error)
                *error = QStringLiteral("--log-format wants text or json");
            return std::nullopt;
        }
    }
    if (!SpeechOptions::read(parser, &options.speech, error))
        return std::nullopt;
    if (!options.accounts.read(parser, error))
        return std::nullopt;
    // Uploads in flight are counted per client too: behind the proxy, per
    // forwarded address.
    options.limits.trustedProxies = options.accounts.trustedProxies;
    if (positional)
        *positional = parser.positionalArguments();
    return options;
}

TellwindServer::TellwindServer(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (m_options.dataDir.isEmpty())
        m_options.dataDir = defaultDataDir();
    s_logFormat = m_options.logFormat;
    // Qt's own warnings and anything logged by category join the stream in its format.
    if (m_options.logFormat == LogFormat::json)
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { logMessage(message); });
    registerOperationRoutes();

    m_http.setMissingHandler([](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        const QByteArray path = request.url().path().toUtf8();
        logRequest(methodName(request.method()), path, 404, request.body().size());
        respond(responder, 404,
            errorJson(QStringLiteral("Not found: %1").arg(QString::fromLatin1(printable(path, 200)))));
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

    m_guard = new ConnectionGuard(m_options.limits);
    connect(m_guard, &ConnectionGuard::requestFinished, this, &TellwindServer::onRequestFinished);
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
    QPointer<ConnectionGuard> guard = m_guard;
    Metrics::global().setGauge("tellwind_uploads_in_flight", "Speech uploads received or being answered.",
        [guard] { return guard ? guard->uploadsInFlight() : 0; });
    return true;
}

quint16 TellwindServer::port() const
{
    return m_guard ? m_guard->serverPort() : 0;
}

QByteArray TellwindServer::printable(const QByteArray &bytes, qsizetype limit)
{
    // Keeps the line one line, and in one encoding whatever the sender wrote.
    QByteArray safe = bytes.left(limit);
    for (char &c : safe) {
        if (uchar(c) < 0x20 || uchar(c) >= 0x7f)
            c = '?';
    }
    return safe;
}

void TellwindServer::logMessage(const QString &line)
{
    QByteArray text;
    if (s_logFormat == LogFormat::json) {
        text = QJsonDocument(
            QJsonObject {
                { QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) },
                { QStringLiteral("message"), line },
            })
                   .toJson(QJsonDocument::Compact);
    } else {
        text = line.toUtf8();
    }
    text += '\n';
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

void TellwindServer::logRequest(
    const QByteArray &method, const QByteArray &path, int status, qint64 bodyBytes, qint64 decodeMilliseconds)
{
    if (decodeMilliseconds >= 0)
        Metrics::global().observeDecodeSeconds(double(decodeMilliseconds) / 1000);
    if (s_logFormat != LogFormat::text)
        return;
    QByteArray line = printable(method, 16) + ' ' + printable(path, 200) + " -> " + QByteArray::number(status)
        + " (" + QByteArray::number(bodyBytes) + " bytes";
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

// ---- Operations: health, readiness, metrics, the access log and an orderly stop ----

void TellwindServer::registerOperationRoutes()
{
    using Status = QHttpServerResponder::StatusCode;
    m_http.route(QStringLiteral("/healthz"), QHttpServerRequest::Method::Get,
        [] { return QHttpServerResponse("application/json", R"({"status":"alive"})"); });
    m_http.route(QStringLiteral("/readyz"), QHttpServerRequest::Method::Get, [this] {
        QJsonArray failing;
        for (const ReadinessCheck &check : m_readinessChecks) {
            if (!check.check())
                failing.append(check.name);
        }
        if (m_stopping)
            failing.append(QStringLiteral("stopping"));
        const QJsonObject answer {
            { QStringLiteral("status"),
                failing.isEmpty() ? QStringLiteral("ready") : QStringLiteral("not ready") },
            { QStringLiteral("failing"), failing },
        };
        return QHttpServerResponse("application/json", QJsonDocument(answer).toJson(QJsonDocument::Compact),
            failing.isEmpty() ? Status::Ok : Status::ServiceUnavailable);
    });
    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [] {
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", Metrics::global().render());
    });
}

void TellwindServer::addReadinessCheck(const QString &name, std::function<bool()> check)
{
    m_readinessChecks.push_back({ name, std::move(check) });
}

void TellwindServer::onRequestFinished(const RequestRecord &record)
{
    // Labelled by the routes the server has, never by what a client wrote:
    // made-up paths would otherwise grow the metrics without bound.
    static const QSet<QByteArray> routes { "/healthz", "/readyz", "/metrics", "/api/speech", "/api/languages",
        "/auth/login", "/auth/account", "/auth/logout", "/api/auth/me", "/api/auth/verify",
        "/api/auth/logout" };
    const bool known = routes.contains(record.path) || m_options.limits.uploadPaths.contains(record.path);
    const QByteArray route = known ? record.path : QByteArrayLiteral("other");
    Metrics::global().countRequest(route, record.status);

    if (s_logFormat == LogFormat::json) {
        // Never the query (it may carry a token) and never a body.
        const QJsonObject line {
            { QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) },
            { QStringLiteral("method"), QString::fromLatin1(printable(record.method, 16)) },
            { QStringLiteral("route"), QString::fromLatin1(printable(record.path, 200)) },
            { QStringLiteral("status"), record.status },
            { QStringLiteral("durationMs"), qRound64(record.seconds * 10000) / 10.0 },
            { QStringLiteral("client"), record.client.toString() },
            { QStringLiteral("bytes"), record.bodyBytes },
        };
        const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    } else if (record.answeredByGuard) {
        logRequest(record.method, record.path, record.status, record.bodyBytes);
    }
}

namespace
{

int signalPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    // Only async-signal-safe work here; the event loop does the rest.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void TellwindServer::stopOnTerminationSignal()
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
        shutDown();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void TellwindServer::shutDown()
{
    if (m_stopping) {
        // Asked twice: the operator does not want to wait.
        QCoreApplication::exit(0);
        return;
    }
    m_stopping = true;
    logMessage(QStringLiteral("tellwind-server stopping: answering the requests in flight"));
    if (!m_guard) {
        QCoreApplication::exit(0);
        return;
    }
    connect(m_guard, &ConnectionGuard::drained, qApp, [] { QCoreApplication::exit(0); });
    QPointer<ConnectionGuard> guard = m_guard;
    QTimer::singleShot(drainLimit, qApp, [guard] {
        if (!guard)
            return QCoreApplication::exit(0);
        // Out of time: whoever still waits is told so and may retry elsewhere.
        guard->answerRemaining();
        QTimer::singleShot(answerLimit, qApp, [] { QCoreApplication::exit(0); });
    });
    m_guard->drain();
}
