#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>
#include <variant>

// A request head read strictly. The connection guard is the only HTTP parser
// that sees what a client sent: it refuses every head two parsers could frame
// differently, and hands the application a re-written head whose framing
// leaves no room for interpretation. Bytes after the head are never read as
// anything but the body it announced.
struct RequestHead {
    QByteArray method;
    QByteArray target; // origin form: the path and its query
    QByteArray path; // the target without its query
    int minorVersion = 1;
    // End-to-end fields as sent; framing and connection fields are left out.
    QList<QPair<QByteArray, QByteArray>> fields;
    qint64 contentLength = 0;
    bool closeAfterReply = false;
    bool expectContinue = false;

    // The head in the one form the application is given: HTTP/1.1, a
    // Content-Length, nothing about the client's connection.
    QByteArray forwarded(const QByteArray &method) const;
};

struct HeadError {
    int status = 400;
    QString message;
};

// `head` is everything before the blank line that ends it (without that
// line's CRLF CRLF).
std::variant<RequestHead, HeadError> parseRequestHead(QByteArrayView head);

// What the guard needs of the application's answers to find where each one ends.
struct ResponseHead {
    int status = 0;
    // Nothing: the body runs until the application closes the connection.
    std::optional<qint64> bodyLength;
};

std::optional<ResponseHead> parseResponseHead(QByteArrayView head);
