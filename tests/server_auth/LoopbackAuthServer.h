#pragma once

#include "AccountStore.h"
#include "AuthEndpoints.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTemporaryDir>

// The server's sign-in half on a loopback port inside the test process, with
// a record of every request it answered.
class LoopbackAuthServer
{
public:
    struct Request {
        QString path;
        QByteArray method;
        QByteArray authorization;
    };

    LoopbackAuthServer() : store(dir.path() + QStringLiteral("/data")), endpoints(store) {}

    bool start()
    {
        if (!dir.isValid() || !store.open())
            return false;
        endpoints.registerRoutes(http);
        http.afterRequest([this](QHttpServerResponse &&response, const QHttpServerRequest &request) {
            Request recorded{request.url().path(), {}, {}};
            recorded.method = request.method() == QHttpServerRequest::Method::Post ? "POST" : "GET";
            for (const auto &[name, value] : request.headers()) {
                if (name.compare("Authorization", Qt::CaseInsensitive) == 0)
                    recorded.authorization = value;
            }
            requests.append(recorded);
            return std::move(response);
        });
        port = http.listen(QHostAddress::LocalHost, 0);
        return port != 0;
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

    QList<Request> requestsTo(const QString &path) const
    {
        QList<Request> matching;
        for (const Request &request : requests) {
            if (request.path == path)
                matching.append(request);
        }
        return matching;
    }

    // A signed-in app session for a new account.
    QString signedInToken(const QString &email, AccountStore::Account *account = nullptr)
    {
        const auto created = store.createAccount(email, QStringLiteral("correct horse battery"));
        if (!std::holds_alternative<AccountStore::Account>(created))
            return {};
        if (account)
            *account = std::get<AccountStore::Account>(created);
        return store.createSession(std::get<AccountStore::Account>(created).id, AccountStore::SessionKind::app)
            .value_or(QString());
    }

    QTemporaryDir dir;
    AccountStore store;
    AuthEndpoints endpoints;
    QHttpServer http;
    quint16 port = 0;
    QList<Request> requests;
};
