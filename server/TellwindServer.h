#pragma once

#include "AccountOptions.h"
#include "ConnectionGuard.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// tellwind-server: the options, the listening socket (guarded against
// oversized and stalled requests), the data folder and the HTTP router that
// the endpoints register their routes on.
class TellwindServer : public QObject
{
    Q_OBJECT

public:
    struct Options {
        QHostAddress address = QHostAddress(QHostAddress::LocalHost);
        quint16 port = 8750; // 0: any free port (the log line tells which)
        QString dataDir;     // empty: defaultDataDir()
        int decoderThreads = 0; // 0: one per core, at least two, at most four
        ConnectionLimits limits;
        AccountOptions accounts;
    };

    // $XDG_DATA_HOME/tellwind-server
    static QString defaultDataDir();
    // Reads "--listen HOST:PORT", "--data-dir DIR" and "--decoders N"; the
    // words that are not options (a subcommand and its arguments) go to
    // `positional`. Nothing, with the reason in `error`, on a bad option.
    static std::optional<Options> parseArguments(const QStringList &arguments, QString *error,
                                                 QStringList *positional = nullptr);

    explicit TellwindServer(Options options, QObject *parent = nullptr);
    ~TellwindServer() override;

    // Makes the data folder and starts listening.
    bool listen(QString *error);
    quint16 port() const;
    QString dataDir() const { return m_options.dataDir; }
    const Options &options() const { return m_options; }
    int decoderThreads() const;

    QHttpServer &http() { return m_http; }

    // One line per request on standard output. `decodeMilliseconds` < 0 when nothing was decoded.
    static void logRequest(const QByteArray &method, const QByteArray &path, int status, qint64 bodyBytes,
                           qint64 decodeMilliseconds = -1);
    static QByteArray methodName(QHttpServerRequest::Method method);
    // {"type":"error","error":message}, compact.
    static QByteArray errorJson(const QString &message);
    static void respond(QHttpServerResponder &responder, int status, const QByteArray &json,
                        QHttpServerResponder::HeaderList extraHeaders = {});

private:
    Options m_options;
    QHttpServer m_http;
    ConnectionGuard *m_guard = nullptr;
};
