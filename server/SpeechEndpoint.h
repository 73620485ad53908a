#pragma once

#include "DecoderPool.h"
#include "ModelRegistry.h"
#include "UpstreamTranscriber.h"

#include <QHttpServerResponder>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

class TellwindServer;

// POST /api/speech?sampleRate=16000&languageCode=CODE with raw 16 kHz mono
// signed 16-bit little-endian PCM: answers {"type":"transcript","text":…,
// "isFinal":true}. A language with a local model is decoded in the decoder
// pool, never on the event loop; any other goes to the upstream service when
// there is one. GET /api/languages tells which languages go where.
class SpeechEndpoint : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maxBodyBytes = 10 * 1024 * 1024;

    SpeechEndpoint(TellwindServer &server, QObject *parent = nullptr);
    ~SpeechEndpoint() override;

    // False, with the reason, when the English model could not be loaded.
    bool isReady(QString *error) const { return m_pool->isReady(error); }
    int decoderCount() const { return m_pool->threadCount(); }

    // {"languages":[{"code":…,"engine":"pocketsphinx"|"upstream"},…]}: the
    // local models first, then, with an upstream, every other language the
    // program offers.
    QByteArray languagesJson() const;

    // Uploads are answered only when this says 200 of their request (401: no
    // valid session, 503: cannot tell now). Unset: anyone may upload.
    void setAccessCheck(std::function<int(const QHttpServerRequest &)> check) { m_access = std::move(check); }

private:
    QCoro::Task<> forward(std::shared_ptr<QHttpServerResponder> responder, QPointer<QTcpSocket> socket,
        QByteArray pcm, QString language, QByteArray path);

    std::unique_ptr<ModelRegistry> m_models;
    std::unique_ptr<DecoderPool> m_pool;
    std::unique_ptr<UpstreamTranscriber> m_upstream;
    std::function<int(const QHttpServerRequest &)> m_access;
};
