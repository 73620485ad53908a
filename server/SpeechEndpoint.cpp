#include "SpeechEndpoint.h"

#include "Metrics.h"

#include "TellwindServer.h"

#include "speech/SupportedLanguage.h"
#include "speech/TranscriptionResponse.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

#include <cstdio>

namespace
{

// Uploads waiting for a decoder beyond this are turned away rather than
// piling up in memory.
constexpr int maxQueuedUploads = 64;
constexpr int acceptedSampleRate = 16000;

void serverLog(const QString &line)
{
    TellwindServer::logMessage(line);
}

// Next to the server in a build tree; in the libexec folder of the prefix it
// was installed to otherwise.
QString modelCheckerPath()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(QStringLiteral("tellwind-model-probe"));
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QDir::cleanPath(programDir.filePath(QStringLiteral(TELLWIND_MODEL_PROBE_FROM_BIN)));
}

// Only a plain language-REGION tag is sent on to the upstream.
bool isPlainTag(const QString &code)
{
    static const QRegularExpression plainTag(QStringLiteral("^[A-Za-z]{2,3}(-[A-Za-z0-9]{2,8})*$"));
    return plainTag.match(code).hasMatch();
}

QByteArray transcriptJson(const QString &text)
{
    TranscriptionResponse answer;
    answer.type = QStringLiteral("transcript");
    answer.text = text;
    answer.isFinal = true;
    return answer.encode();
}

QByteArray errorAnswerJson(const QString &error)
{
    TranscriptionResponse answer;
    answer.type = QStringLiteral("error");
    answer.error = error;
    return answer.encode();
}

} // namespace

SpeechEndpoint::SpeechEndpoint(TellwindServer &server, QObject *parent)
    : QObject(parent)
{
    const SpeechOptions &options = server.options().speech;
    const QString modelsDir
        = options.modelsDir.isEmpty() ? server.dataDir() + QStringLiteral("/models") : options.modelsDir;
    QStringList incomplete;
    const QMap<QString, PocketSphinxModel> models = ModelRegistry::discover(modelsDir, &incomplete);
    for (const QString &folder : std::as_const(incomplete))
        serverLog(
            QStringLiteral("speech models: %1 holds no complete model (acoustic model folder, .dict, .lm), "
                           "ignored")
                .arg(folder));
    serverLog(QStringLiteral("speech models: %1 (at most %2 loaded)")
                  .arg(models.keys().join(QStringLiteral(", ")))
                  .arg(options.maxModels));
    m_models = std::make_unique<ModelRegistry>(models, options.maxModels, modelCheckerPath(), serverLog);
    m_pool = std::make_unique<DecoderPool>(*m_models, server.decoderThreads(), maxQueuedUploads);
    if (!options.upstream.isEmpty()) {
        m_upstream = std::make_unique<UpstreamTranscriber>(options);
        serverLog(
            QStringLiteral("speech upstream: %1 (model %2, %3, at most %4 at once)")
                .arg(options.upstream.toDisplayString(QUrl::RemoveUserInfo), options.upstreamModel,
                    options.upstreamKey.isEmpty() ? QStringLiteral("no key") : QStringLiteral("key set"))
                .arg(options.upstreamConcurrency));
    }

    server.http().route(QStringLiteral("/api/languages"), QHttpServerRequest::Method::AnyKnown,
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            const QByteArray method = TellwindServer::methodName(request.method());
            const QByteArray path = request.url().path().toUtf8();
            if (request.method() != QHttpServerRequest::Method::Get) {
                TellwindServer::logRequest(method, path, 405, request.body().size());
                TellwindServer::respond(responder, 405,
                    TellwindServer::errorJson(QStringLiteral("Method not allowed: use GET")),
                    { { "Allow", "GET" } });
                return;
            }
            TellwindServer::logRequest(method, path, 200, request.body().size());
            TellwindServer::respond(responder, 200, languagesJson());
        });

    server.http().route(QStringLiteral("/api/speech"), QHttpServerRequest::Method::AnyKnown,
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            const QByteArray method = TellwindServer::methodName(request.method());
            const QByteArray path = request.url().path().toUtf8();
            const QByteArray body = request.body();
            const auto fail
                = [&](int status, const QString &reason, QHttpServerResponder::HeaderList headers = {}) {
                      TellwindServer::logRequest(method, path, status, body.size());
                      TellwindServer::respond(responder, status, TellwindServer::errorJson(reason), headers);
                  };

            if (request.method() != QHttpServerRequest::Method::Post) {
                fail(405, QStringLiteral("Method not allowed: use POST"), { { "Allow", "POST" } });
                return;
            }
            if (m_access) {
                const int access = m_access(request);
                if (access == 401) {
                    fail(401, QStringLiteral("Sign in to use speech recognition on this server"),
                        { { "WWW-Authenticate", "Bearer realm=\"tellwind\"" } });
                    return;
                }
                if (access != 200) {
                    fail(503, QStringLiteral("Server busy: try again shortly"), { { "Retry-After", "5" } });
                    return;
                }
            }
            const QUrlQuery query = request.query();
            if (!query.hasQueryItem(QStringLiteral("sampleRate"))) {
                fail(400, QStringLiteral("Missing sampleRate: send sampleRate=16000"));
                return;
            }
            const QString sampleRate = query.queryItemValue(QStringLiteral("sampleRate"), QUrl::FullyDecoded);
            if (sampleRate != QString::number(acceptedSampleRate)) {
                fail(400,
                    QStringLiteral("Unsupported sampleRate %1: only 16000 is accepted")
                        .arg(sampleRate.left(32)));
                return;
            }
            if (body.isEmpty()) {
                fail(400, QStringLiteral("Empty body: send 16-bit mono PCM audio"));
                return;
            }
            if (body.size() % 2 != 0) {
                fail(400,
                    QStringLiteral("Odd body length %1: 16-bit samples take two bytes each")
                        .arg(body.size()));
                return;
            }
            if (body.size() > maxBodyBytes) {
                fail(413, QStringLiteral("Body too large: at most %1 bytes").arg(maxBodyBytes));
                return;
            }

            // A local model first, then the upstream; "auto" lets the
            // upstream tell the language, and means US English without one.
            QString language = query.queryItemValue(QStringLiteral("languageCode"), QUrl::FullyDecoded);
            const bool automatic = language.isEmpty() || language == QLatin1String("auto");
            if (automatic && !m_upstream)
                language = QStringLiteral("en-US");
            const bool local = !(automatic && m_upstream) && m_pool->supports(language);
            if (!local && !(m_upstream && (automatic || isPlainTag(language)))) {
                TellwindServer::logRequest(method, path, 200, body.size());
                TellwindServer::respond(responder, 200,
                    errorAnswerJson(QStringLiteral("Language not supported: %1").arg(language.left(64))));
                return;
            }

            // The answer is written later; the connection may be gone by then.
            auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
            QPointer<QTcpSocket> socket = pending->socket();
            const qint64 bytes = body.size();
            if (!local) {
                if (!m_upstream->hasRoom()) {
                    TellwindServer::logRequest(method, path, 503, bytes);
                    TellwindServer::respond(*pending, 503,
                        TellwindServer::errorJson(QStringLiteral("Server busy: try again shortly")),
                        { { "Retry-After", "1" } });
                    return;
                }
                const QString upstreamLanguage = automatic ? QString() : language;
                forward(pending, socket, body, upstreamLanguage, path);
                return;
            }

            const bool queued = m_pool->decode(
                language, body, this, [pending, socket, method, path, bytes](DecoderPool::Result result) {
                    const QByteArray json = result.error.isEmpty() ? transcriptJson(result.text)
                                                                   : errorAnswerJson(result.error);
                    TellwindServer::logRequest(method, path, 200, bytes, result.decodeMilliseconds);
                    if (socket && socket->state() == QAbstractSocket::ConnectedState)
                        TellwindServer::respond(*pending, 200, json);
                });
            if (!queued) {
                TellwindServer::logRequest(method, path, 503, bytes);
                if (socket)
                    TellwindServer::respond(*pending, 503,
                        TellwindServer::errorJson(QStringLiteral("Server busy: try again shortly")),
                        { { "Retry-After", "1" } });
            }
        });
}

SpeechEndpoint::~SpeechEndpoint() = default;

QCoro::Task<> SpeechEndpoint::forward(std::shared_ptr<QHttpServerResponder> responder,
    QPointer<QTcpSocket> socket, QByteArray pcm, QString language, QByteArray path)
{
    const qint64 bytes = pcm.size();
    const QPointer<SpeechEndpoint> self(this);
    // Made outside the co_await: g++ 12 destroys temporaries of an awaited
    // call's arguments twice.
    std::function<bool()> stillWanted
        = [socket] { return socket && socket->state() == QAbstractSocket::ConnectedState; };
    QCoro::Task<UpstreamTranscriber::Result> transcription
        = m_upstream->transcribe(std::move(pcm), acceptedSampleRate, language, std::move(stillWanted));
    const UpstreamTranscriber::Result result = co_await transcription;
    if (!self)
        co_return;
    const int status = result.error.isEmpty() ? 200 : 502;
    Metrics::global().observeUpstreamSeconds(double(result.milliseconds) / 1000);
    // The upstream's time is not decoding time: the request line says none.
    TellwindServer::logRequest("POST", path, status, bytes);
    if (!result.error.isEmpty())
        serverLog(QStringLiteral("speech upstream failed for %1: %2")
                      .arg(language.isEmpty() ? QStringLiteral("auto") : language, result.error));
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        co_return;
    TellwindServer::respond(*responder, status,
        result.error.isEmpty() ? transcriptJson(result.text) : TellwindServer::errorJson(result.error));
}

QByteArray SpeechEndpoint::languagesJson() const
{
    QJsonArray languages;
    const auto add = [&languages](const QString &code, const char *engine) {
        languages.append(QJsonObject {
            { QStringLiteral("code"), code }, { QStringLiteral("engine"), QLatin1String(engine) } });
    };
    // In the program's order, so that a listing reads like its picker; local
    // models for codes it does not offer come last.
    QStringList local = m_models->languages();
    for (const SupportedLanguage &language : SupportedLanguage::allCases()) {
        const QString code = language.rawValue();
        if (local.removeOne(code))
            add(code, "pocketsphinx");
    }
    for (const QString &code : std::as_const(local))
        add(code, "pocketsphinx");
    if (m_upstream) {
        for (const SupportedLanguage &language : SupportedLanguage::allCases()) {
            if (!m_models->has(language.rawValue()))
                add(language.rawValue(), "upstream");
        }
    }
    return QJsonDocument(QJsonObject { { QStringLiteral("languages"), languages } })
        .toJson(QJsonDocument::Compact);
}
