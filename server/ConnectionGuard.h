#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QTcpServer>

#include <chrono>

// What a client may send and how long it may take. The HTTP layer would
// otherwise hold any body in memory and wait forever for a client that
// stopped half-way.
struct ConnectionLimits {
    qint64 maxHeaderBytes = 64 * 1024;
    qint64 maxBodyBytes = 10 * 1024 * 1024;
    // The request line and headers must arrive within this time. Short: a
    // slow sender holds a connection slot for as long as it is allowed.
    std::chrono::milliseconds headerTimeout { 5'000 };
    // A body must keep moving: no gap longer than this.
    std::chrono::milliseconds bodyIdleTimeout { 5'000 };
    // Nor may a whole request take longer than this.
    std::chrono::milliseconds requestTimeout { 60'000 };
    // The application must have answered within this time.
    std::chrono::milliseconds responseTimeout { 120'000 };
    // An idle kept-alive connection is closed after this.
    std::chrono::milliseconds keepAliveTimeout { 30'000 };
    int maxConnections = 256;
    // No one address may hold more than this many of them (a trusted proxy
    // speaks for many clients and is not held to it).
    int maxConnectionsPerClient = 16;

    // Set: requests must name this host (host[:port], lower case), and an
    // API request from a browser must come from this origin. Unset: the
    // origin is whatever host the request names.
    QByteArray publicHost;
    QByteArray publicOrigin; // scheme://host[:port]

    // Speech uploads (POSTs to these paths, raw 16-bit mono samples at the
    // rate their `sampleRate` names) are held to a length of audio, and each
    // client to a number of them at once, so that one client cannot make
    // everyone else's wait.
    QList<QByteArray> uploadPaths { QByteArrayLiteral("/api/speech") };
    int maxUploadSeconds = 30;
    int maxUploadsPerClient = 2;
    // Connections from these proxies are counted, and logged, as the client
    // their X-Forwarded-For names last (the entry the proxy itself added).
    QList<QPair<QHostAddress, int>> trustedProxies; // subnets: address and prefix length
};

// One answered request, for the access log and the metrics.
struct RequestRecord {
    QByteArray method; // "-" when the request line could not be read
    QByteArray path; // without the query, which may hold secrets
    int status = 0;
    qint64 bodyBytes = 0;
    double seconds = 0;
    QHostAddress client;
    // The guard refused the request itself; the application never saw it.
    bool answeredByGuard = false;
};

class ConnectionWatch;

// The listening socket, and the only HTTP parser that reads what clients
// send. Each connection is read here strictly (see RequestHead); the HTTP
// layer gets a private stream per connection carrying one re-written request
// at a time, and its answers come back through here. So requests are
// answered in order, `Connection: close` and HTTP/1.0 are honoured, HEAD gets
// no body, and no byte a client sends can be framed two ways.
class ConnectionGuard : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectionGuard(ConnectionLimits limits, QObject *parent = nullptr);
    ~ConnectionGuard() override;

    const ConnectionLimits &limits() const { return m_limits; }
    int uploadsInFlight() const { return m_uploads; }

    // Stops accepting connections and closes idle ones; the others close after
    // their current answer. `drained` follows once none is left in flight.
    void drain();
    // The drain ran out of time: every request still open is answered 503
    // with a Retry-After, so that no client is left without an answer.
    void answerRemaining();
    bool isDraining() const { return m_draining; }

Q_SIGNALS:
    void requestFinished(const RequestRecord &record);
    void drained();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class ConnectionWatch;
    bool acquireUpload(const QHostAddress &client);
    bool isTrustedProxy(const QHostAddress &address) const;
    void releaseUpload(const QHostAddress &client);
    void forget(ConnectionWatch *watch);
    void checkDrained();

    ConnectionLimits m_limits;
    QSet<ConnectionWatch *> m_watches;
    QHash<QHostAddress, int> m_uploadsByClient;
    QHash<QHostAddress, int> m_connectionsByPeer;
    int m_uploads = 0;
    bool m_draining = false;
    bool m_drainedSignalled = false;
};
