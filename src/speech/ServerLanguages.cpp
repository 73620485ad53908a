#include "speech/ServerLanguages.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

#include <qcoro/qcoronetworkreply.h>

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("ServerLanguages", text);
}

} // namespace

std::optional<QStringList> ServerLanguages::decode(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue languages = document.object().value(QLatin1String("languages"));
    if (!document.isObject() || !languages.isArray())
        return std::nullopt;
    QStringList codes;
    for (const QJsonValue &entry : languages.toArray()) {
        const QString code = entry.toObject().value(QLatin1String("code")).toString();
        if (!code.isEmpty())
            codes << code;
    }
    return codes;
}

QCoro::Task<ServerLanguages> ServerLanguages::fetch(
    QNetworkAccessManager &network, QString baseURL, std::chrono::milliseconds timeout)
{
    ServerLanguages answer;
    while (baseURL.endsWith(u'/'))
        baseURL.chop(1);
    const QUrl url(baseURL + QStringLiteral("/api/languages"), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        answer.error = tr("Not a server address: %1").arg(baseURL);
        co_return answer;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QPointer<QNetworkReply> reply = network.get(request);
    co_await reply.get();
    if (!reply) {
        answer.error = tr("The request was canceled");
        co_return answer;
    }
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        answer.error = reply->error() == QNetworkReply::OperationCanceledError
            ? tr("The server did not answer in time")
            : reply->errorString();
        co_return answer;
    }
    if (status.toInt() != 200) {
        answer.error = tr("The server answered %1 %2")
                           .arg(status.toInt())
                           .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                           .trimmed();
        co_return answer;
    }
    if (const std::optional<QStringList> codes = decode(reply->readAll())) {
        answer.reached = true;
        answer.codes = *codes;
    } else {
        answer.error = tr("The server's answer is not a language list");
    }
    co_return answer;
}
