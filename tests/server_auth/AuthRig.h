#pragma once

#include "AccountStore.h"
#include "AuthEndpoints.h"
#include "TestDatabase.h"
#include "support/RawHttp.h"

#include <QHttpServer>
#include <QUrlQuery>

#include <memory>

// One server's sign-in half on a loopback port inside the test process. Two
// of them on one TestDatabase behave like two replicas.
struct AuthReplica {
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<AuthEndpoints> endpoints;
    QHttpServer http;
    quint16 port = 0;

    explicit AuthReplica(const TestDatabase &database)
        : store(database.store())
    {
        if (!store->open())
            return;
        endpoints = std::make_unique<AuthEndpoints>(*store);
        endpoints->registerRoutes(http);
        port = http.listen(QHostAddress::LocalHost, 0);
    }
};

// A browser as far as the sign-in pages care: it keeps their cookies and
// sends the form token the login page handed it.
struct Browser {
    explicit Browser(quint16 port)
        : port(port)
    {
    }

    quint16 port;
    QMap<QByteArray, QByteArray> cookies;

    QByteArray cookieHeader() const
    {
        QByteArrayList pairs;
        for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
            pairs.append(it.key() + '=' + it.value());
        return pairs.isEmpty() ? QByteArray() : "Cookie: " + pairs.join("; ");
    }
    HttpMessage keep(const HttpMessage &reply)
    {
        for (const auto &[name, value] : reply.headers) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
                continue;
            const QByteArray pair = value.split(';').first();
            const QByteArray cookie = pair.left(pair.indexOf('=')), content = pair.mid(pair.indexOf('=') + 1);
            if (content.isEmpty())
                cookies.remove(cookie);
            else
                cookies.insert(cookie, content);
        }
        return reply;
    }
    HttpMessage get(const QByteArray &target) { return keep(rawRequest(port, "GET", target, {}, { cookieHeader() })); }
    QByteArray csrf()
    {
        if (!cookies.contains(AuthEndpoints::csrfCookieName))
            get("/auth/login");
        return cookies.value(AuthEndpoints::csrfCookieName);
    }
    // The form as the page would send it, token included.
    QByteArray postRequest(const QByteArray &path, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        const QByteArray withToken = body + "&csrf=" + csrf(); // before the cookies are read
        return httpRequest("POST", path, withToken,
            QList<QByteArray> { "Content-Type: application/x-www-form-urlencoded", cookieHeader() } + headers);
    }
    HttpMessage post(const QByteArray &path, const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        return keep(RawExchange(port, postRequest(path, body, headers)).wait());
    }
};

inline QByteArray bearer(const QString &token)
{
    return "Authorization: Bearer " + token.toLatin1();
}

inline QByteArray form(const QByteArray &action, const QByteArray &email, const QByteArray &password,
    const QByteArray &name = {})
{
    return formBody({ { "email", email }, { "password", password }, { "name", name }, { "action", action } });
}

inline HttpMessage getFrom(quint16 port, const QByteArray &target, const QByteArray &header = {})
{
    return rawRequest(port, "GET", target, {}, { header });
}

// The tellwind://callback link the browser is sent to, when it is one.
inline QUrlQuery callbackOf(const HttpMessage &reply)
{
    const QUrl location(QString::fromLatin1(reply.header("Location")));
    return location.adjusted(QUrl::RemoveQuery) == QUrl("tellwind://callback") ? QUrlQuery(location)
                                                                               : QUrlQuery();
}

inline QString tokenFrom(const HttpMessage &reply)
{
    return callbackOf(reply).queryItemValue("token");
}
