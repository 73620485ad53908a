#pragma once

#include "AccountOptions.h"
#include "ConnectionGuard.h"
#include "SpeechOptions.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

// tellwind-server: the options, the listening socket (guarded against
// oversized and stalled requests), the data folder and the HTTP router that
// the endpoints register their routes on.
class TellwindServer : public QObject
{
    Q_OBJECT

public:
    enum class LogFormat { text, json };

    struct Options {
        QHostAddress address = QHostAddress(QHostAddress::LocalHost);
        quint16 port = 8750; // 0: any free port (the log line tells which)
        QString dataDir; // empty: defaultDataDir()
        int decoderThreads = 0; // 0: one per core, at least two, at most four
        ConnectionLimits limits;
        LogFormat logFormat = LogFormat::text;
        SpeechOptions speech;
        AccountOptions accounts;
        // Uploads need a valid session token of the program's.
        bool speechNeedsSignIn = false;
        // Empty: the server is reached under whatever name a request gives.
        QUrl publicOrigin;
    };

    // $XDG_DATA_HOME/tellwind-server
    static QString defaultDataDir();
    // Reads "--listen HOST:PORT", "--data-dir DIR" and "--decoders N"; the
    // words that are not options (a subcommand and its arguments) go to
    // `positional`. Nothing, with the reason in `error`, on a bad option.
    static std::optional<Options> parseArguments(
        const QStringList &arguments, QString *error, QStringList *positional = nullptr);

    explicit TellwindServer(Options options, QObject *parent = nullptr);
    ~TellwindServer() override;

    // Makes the data folder and starts listening.
    bool listen(QString *error);
    quint16 port() const;
    QString dataDir() const { return m_options.dataDir; }
    const Options &options() const { return m_options; }
    int decoderThreads() const;

    QHttpServer &http() { return m_http; }

    // GET /readyz answers 503 while any of these fails; `name` says which in its answer.
    void addReadinessCheck(const QString &name, std::function<bool()> check);
    // SIGTERM and SIGINT stop accepting connections, let the requests in
    // flight be answered (for at most `drainLimit`) and end the event loop with 0.
    void stopOnTerminationSignal();
    static constexpr std::chrono::milliseconds drainLimit { 10'000 };
    // After the drain limit, time for the refusals to reach their clients.
    static constexpr std::chrono::milliseconds answerLimit { 2'000 };

    // One line per request on standard output. `decodeMilliseconds` < 0 when
    // nothing was decoded. With --log-format json the guard writes one object
    // per request instead, and this only feeds the decode-time metric.
    // A line for the operator (never anything a user dictated): as it is in
    // text, as {"time","message"} in json, so the stream stays one format.
    static void logMessage(const QString &line);
    // Bytes from the network made safe for one log line.
    static QByteArray printable(const QByteArray &bytes, qsizetype limit);
    static void logRequest(const QByteArray &method, const QByteArray &path, int status, qint64 bodyBytes,
        qint64 decodeMilliseconds = -1);
    static QByteArray methodName(QHttpServerRequest::Method method);
    // {"type":"error","error":message}, compact.
    static QByteArray errorJson(const QString &message);
    static void respond(QHttpServerResponder &responder, int status, const QByteArray &json,
        QHttpServerResponder::HeaderList extraHeaders = {});

private:
    void registerOperationRoutes();
    void onRequestFinished(const RequestRecord &record);
    void shutDown();

    struct ReadinessCheck {
        QString name;
        std::function<bool()> check;
    };

    Options m_options;
    std::vector<ReadinessCheck> m_readinessChecks;
    bool m_stopping = false;
    QHttpServer m_http;
    ConnectionGuard *m_guard = nullptr;
    static inline LogFormat s_logFormat = LogFormat::text;
};
