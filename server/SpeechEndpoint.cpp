#include "SpeechEndpoint.h"

#include "TellwindServer.h"

#include "speech/TranscriptionResponse.h"

#include <QDir>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

namespace {

// Uploads waiting for a decoder beyond this are turned away rather than
// piling up in memory.
constexpr int maxQueuedUploads = 64;

} // namespace

QMap<QString, SpeechModel> SpeechEndpoint::installedModels(const QString &dataDir)
{
    QMap<QString, SpeechModel> models;
    const QDir folder(dataDir + QStringLiteral("/models"));
    for (const QString &code : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = folder.filePath(code);
        SpeechModel model { base + QStringLiteral("/acoustic-model"), base + QStringLiteral("/language-model.lm.bin"),
                            base + QStringLiteral("/pronunciation.dict") };
        if (model.isInstalled())
            models.insert(code, model);
    }
    if (!models.contains(QStringLiteral("en-US")))
        models.insert(QStringLiteral("en-US"), SpeechModel::debianEnglish());
    return models;
}

SpeechEndpoint::SpeechEndpoint(TellwindServer &server, QObject *parent)
    : QObject(parent),
      m_pool(std::make_unique<DecoderPool>(installedModels(server.dataDir()), server.decoderThreads(),
                                           maxQueuedUploads))
{
    DecoderPool *pool = m_pool.get();
    server.http().route(
        QStringLiteral("/api/speech"), QHttpServerRequest::Method::AnyKnown,
        [this, pool](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            const QByteArray method = TellwindServer::methodName(request.method());
            const QByteArray path = request.url().path().toUtf8();
            const QByteArray body = request.body();
            const auto fail = [&](int status, const QString &reason, QHttpServerResponder::HeaderList headers = {}) {
                TellwindServer::logRequest(method, path, status, body.size());
                TellwindServer::respond(responder, status, TellwindServer::errorJson(reason), headers);
            };

            if (request.method() != QHttpServerRequest::Method::Post) {
                fail(405, QStringLiteral("Method not allowed: use POST"), { { "Allow", "POST" } });
                return;
            }
            const QUrlQuery query = request.query();
            if (!query.hasQueryItem(QStringLiteral("sampleRate"))) {
                fail(400, QStringLiteral("Missing sampleRate: send sampleRate=16000"));
                return;
            }
            const QString sampleRate = query.queryItemValue(QStringLiteral("sampleRate"), QUrl::FullyDecoded);
            if (sampleRate != QLatin1String("16000")) {
                fail(400, QStringLiteral("Unsupported sampleRate %1: only 16000 is accepted").arg(sampleRate.left(32)));
                return;
            }
            if (body.isEmpty()) {
                fail(400, QStringLiteral("Empty body: send 16-bit mono PCM audio"));
                return;
            }
            if (body.size() % 2 != 0) {
                fail(400, QStringLiteral("Odd body length %1: 16-bit samples take two bytes each").arg(body.size()));
                return;
            }
            if (body.size() > maxBodyBytes) {
                fail(413, QStringLiteral("Body too large: at most %1 bytes").arg(maxBodyBytes));
                return;
            }

            QString language = query.queryItemValue(QStringLiteral("languageCode"), QUrl::FullyDecoded);
            if (language.isEmpty() || language == QLatin1String("auto"))
                language = QStringLiteral("en-US");
            if (!pool->supports(language)) {
                TellwindServer::logRequest(method, path, 200, body.size());
                TranscriptionResponse answer;
                answer.type = QStringLiteral("error");
                answer.error = QStringLiteral("Language not supported: %1").arg(language.left(64));
                TellwindServer::respond(responder, 200, answer.encode());
                return;
            }

            // The answer is written later; the connection may be gone by then.
            auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
            QPointer<QTcpSocket> socket = pending->socket();
            const qint64 bytes = body.size();
            const bool queued = pool->decode(language, body, this, [pending, socket, method, path, bytes](
                                                                       DecoderPool::Result result) {
                TranscriptionResponse answer;
                if (result.error.isEmpty()) {
                    answer.type = QStringLiteral("transcript");
                    answer.text = result.text;
                    answer.isFinal = true;
                } else {
                    answer.type = QStringLiteral("error");
                    answer.error = result.error;
                }
                TellwindServer::logRequest(method, path, 200, bytes, result.decodeMilliseconds);
                if (socket && socket->state() == QAbstractSocket::ConnectedState)
                    TellwindServer::respond(*pending, 200, answer.encode());
            });
            if (!queued) {
                TellwindServer::logRequest(method, path, 503, bytes);
                if (socket)
                    TellwindServer::respond(*pending, 503, TellwindServer::errorJson(QStringLiteral("Server busy: try again shortly")),
                                            { { "Retry-After", "1" } });
            }
        });
}

SpeechEndpoint::~SpeechEndpoint() = default;
