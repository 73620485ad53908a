#pragma once

#include "PlainHttpExchange.h"
#include "SpeechOptions.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <deque>
#include <functional>
#include <memory>

// Tells one waiting upload that it may go.
class UpstreamTurn : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    void granted();
};

// Sends uploads to an OpenAI-compatible transcription service
// (POST BASE/audio/transcriptions, multipart/form-data with a WAV file) on
// the event loop. At most `upstreamConcurrency` requests run at once; the
// others wait their turn in arrival order.
class UpstreamTranscriber : public QObject
{
    Q_OBJECT

public:
    struct Result {
        QString text;
        QString error; // "Upstream error: …" when the service gave no transcript
        qint64 milliseconds = 0;
    };

    explicit UpstreamTranscriber(const SpeechOptions &options, QObject *parent = nullptr);
    ~UpstreamTranscriber() override;

    // Uploads waiting for their turn beyond this are turned away.
    static constexpr int maxWaiting = 64;
    bool hasRoom() const { return int(m_waiting.size()) < maxWaiting; }

    // `language` is a code such as "es-ES", or empty to let the service tell.
    // `stillWanted` is asked once the turn comes: an upload whose client has
    // gone is not sent.
    QCoro::Task<Result> transcribe(
        QByteArray pcm, int sampleRate, QString language, std::function<bool()> stillWanted);

    // 16-bit mono PCM in a RIFF/WAVE container.
    static QByteArray wavFile(const QByteArray &pcm, int sampleRate);
    // The language as whisper-class services name it: the ISO 639-1 part of
    // the code ("es" for "es-ES").
    static QString serviceLanguage(const QString &code);

private:
    QCoro::Task<> waitForTurn();
    // Plain HTTP goes through PlainHttpExchange, HTTPS through Qt's client.
    QCoro::Task<PlainHttpExchange::Answer> postPlain(
        QUrl url, QList<QPair<QByteArray, QByteArray>> headers, QByteArray body);
    QCoro::Task<PlainHttpExchange::Answer> postWithQt(
        QUrl url, QList<QPair<QByteArray, QByteArray>> headers, QByteArray body);
    void endTurn();

    SpeechOptions m_options;
    QNetworkAccessManager m_network;
    int m_running = 0;
    std::deque<std::shared_ptr<UpstreamTurn>> m_waiting;
};
