#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

// What tellwind-server says it can recognise ("GET /api/languages"), or why
// it could not be asked.
struct ServerLanguages {
    bool reached = false; // the server answered with a language list
    QStringList codes; // in the server's order
    QString error; // for the user, when not reached

    static constexpr std::chrono::milliseconds defaultTimeout { 5000 };

    // Asks the server at `baseURL` (as in the setting "serverBaseURL").
    static QCoro::Task<ServerLanguages> fetch(
        QNetworkAccessManager &network, QString baseURL, std::chrono::milliseconds timeout = defaultTimeout);
    // The reply body, or nothing when it is not a language list.
    static std::optional<QStringList> decode(const QByteArray &body);
};
