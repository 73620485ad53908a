#pragma once

#include <QByteArray>
#include <QTcpServer>

#include <chrono>
#include <functional>

// What a client may send and how long it may take. The HTTP layer would
// otherwise hold any body in memory and wait forever for a client that
// stopped half-way.
struct ConnectionLimits {
    qint64 maxHeaderBytes = 64 * 1024;
    qint64 maxBodyBytes = 10 * 1024 * 1024;
    // The request line and headers must arrive within this time.
    std::chrono::milliseconds headerTimeout { 10'000 };
    // A body must keep moving: no gap longer than this.
    std::chrono::milliseconds bodyIdleTimeout { 10'000 };
    // Nor may a whole request take longer than this.
    std::chrono::milliseconds requestTimeout { 120'000 };
    // An idle kept-alive connection is closed after this.
    std::chrono::milliseconds keepAliveTimeout { 30'000 };
    int maxConnections = 256;
};

// A listening socket that watches every connection before the HTTP layer
// reads it: it follows request boundaries, answers oversized, malformed or
// too slow requests itself (and logs them through `onRejected`), and then
// cuts the HTTP layer off that connection.
class ConnectionGuard : public QTcpServer
{
    Q_OBJECT

public:
    using RejectionLog = std::function<void(const QByteArray &method, const QByteArray &path, int status,
                                            qint64 bodyBytes)>;

    ConnectionGuard(ConnectionLimits limits, RejectionLog onRejected, QObject *parent = nullptr);

    // The object whose readyRead handlers are removed from a rejected connection.
    void setHttpLayer(QObject *httpLayer) { m_httpLayer = httpLayer; }
    const ConnectionLimits &limits() const { return m_limits; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ConnectionLimits m_limits;
    RejectionLog m_onRejected;
    QObject *m_httpLayer = nullptr;
    int m_connections = 0;
};
