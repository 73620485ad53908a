#include "HttpHead.h"

#include <QTest>

// The guard is the only parser that reads what clients send: every head it lets
// through must have exactly one possible framing.
class TestHttpHead : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusesAmbiguousHeads_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QByteArray post = "POST /api/speech?sampleRate=16000 HTTP/1.1\r\n";
        const struct {
            const char *name;
            QByteArray head;
            int status;
            const char *error;
        } rows[] = {
            { "tab before the colon", post + "Content-Length\t: 40", 400,
                "Whitespace before the colon in a header field" },
            { "space before the colon, other field", "GET / HTTP/1.1\r\nHost : x", 400,
                "Whitespace before the colon in a header field" },
            { "two different lengths", post + "Content-Length: 4\r\nContent-Length: 40", 400,
                "Invalid Content-Length" },
            { "length list", post + "Content-Length: 4, 4", 400, "Invalid Content-Length" },
            { "signed length", post + "Content-Length: +4", 400, "Invalid Content-Length" },
            { "hex length", post + "Content-Length: 0x4", 400, "Invalid Content-Length" },
            { "empty length", post + "Content-Length:", 400, "Invalid Content-Length" },
            { "huge length", post + "Content-Length: 99999999999999999999", 400, "Invalid Content-Length" },
            { "chunked and length", post + "Transfer-Encoding: chunked\r\nContent-Length: 4", 400,
                "Transfer-Encoding and Content-Length together" },
            { "chunked alone", post + "Transfer-Encoding: chunked", 411,
                "Length required: send the body with a Content-Length" },
            { "folded line", post + "X-A: 1\r\n Content-Length: 4", 400,
                "Folded header lines are not accepted" },
            { "bare CR in a value", post + "X-A: 1\rContent-Length: 4", 400,
                "Bare CR or LF in the request head" },
            { "bare LF between fields", post + "X-A: 1\nContent-Length: 4", 400,
                "Bare CR or LF in the request head" },
            { "NUL in a value", post + QByteArray("X-A: a\0b", 8), 400,
                "Invalid character in a header field" },
            { "no colon", post + "Content-Length 4", 400, "Malformed header field" },
            { "empty name", post + ": 4", 400, "Malformed header field" },
            { "two Hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b", 400, "More than one Host field" },
            { "unknown expectation", post + "Expect: 200-ok", 417, "Expectation not supported" },
            { "two spaces in the request line", "GET  / HTTP/1.1", 400, "Malformed request line" },
            { "absolute target", "GET http://example.org/ HTTP/1.1", 400, "Malformed request line" },
            { "space in the target", "GET /a b HTTP/1.1", 400, "Malformed request line" },
            { "quote in the target", "GET /a\"b HTTP/1.1", 400, "Malformed request line" },
            { "HTTP/2", "GET / HTTP/2.0", 400, "Malformed request line" },
            { "lower-case version", "GET / http/1.1", 400, "Malformed request line" },
        };
        for (const auto &row : rows)
            QTest::addRow("%s", row.name) << row.head << row.status << QString::fromUtf8(row.error);
    }

    void refusesAmbiguousHeads()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        QFETCH(QString, error);
        const auto parsed = parseRequestHead(head);
        const auto *failure = std::get_if<HeadError>(&parsed);
        QVERIFY(failure);
        QCOMPARE(failure->status, status);
        QCOMPARE(failure->message, error);
    }

    // The application gets one length and nothing about the client's connection.
    void forwardsOneFraming()
    {
        const auto parsed = parseRequestHead(
            "POST /a?x=1 HTTP/1.1\r\ncontent-length: 007\r\nExpect: 100-continue\r\nUpgrade: websocket\r\n"
            "Keep-Alive: 5\r\nTE: trailers\r\nConnection: close\r\nX-Kept:  1  ");
        const auto *request = std::get_if<RequestHead>(&parsed);
        QVERIFY(request);
        QCOMPARE(request->contentLength, 7);
        QVERIFY(request->closeAfterReply);
        QCOMPARE(request->forwarded(request->method),
            QByteArray("POST /a?x=1 HTTP/1.1\r\nX-Kept: 1\r\nContent-Length: 7\r\n\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestHttpHead)
#include "test_http_head.moc"
