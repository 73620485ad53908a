#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

// One HTTP/1.1 request over a connection of its own, written in a single
// piece with Nagle's algorithm off. Qt's own client writes a body in 16 KiB
// pieces with Nagle's algorithm on, and on a loopback or LAN peer the last
// piece then waits for the peer's delayed acknowledgement: some 40 ms an
// upload, many times what the proxying itself costs.
class PlainHttpExchange : public QObject
{
    Q_OBJECT

public:
    struct Answer {
        int status = 0; // 0: no HTTP answer (see transportError)
        QByteArray reason;
        QByteArray body;
        QString transportError;
        bool timedOut = false;
        bool tooLarge = false;
    };

    // `request` is the whole request, head and body; the answer is read
    // until its length is known to be complete, or until the peer closes.
    PlainHttpExchange(const QString &host, quint16 port, QByteArray request,
        std::chrono::milliseconds timeout, qint64 maxBodyBytes, QObject *parent = nullptr);

    bool isFinished() const { return m_finished; }
    const Answer &answer() const { return m_answer; }

Q_SIGNALS:
    void finished();

private:
    // True once the answer is complete (or cannot be).
    bool parse(bool closed);
    void finish();
    void fail(const QString &reason);

    QTcpSocket m_socket;
    QTimer m_deadline;
    QByteArray m_request;
    QByteArray m_received;
    qint64 m_maxBodyBytes;
    Answer m_answer;
    bool m_finished = false;
};
