#include "UpstreamTranscriber.h"

#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroSignal>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTimer>
#include <QtEndian>

namespace
{

// A transcript is short text; anything far larger is not an answer to us.
constexpr qint64 maxReplyBytes = 1024 * 1024;

QString upstreamError(const QString &reason)
{
    return QStringLiteral("Upstream error: %1").arg(reason);
}

} // namespace

UpstreamTranscriber::UpstreamTranscriber(const SpeechOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    // Following a redirect would hand the key to wherever it points.
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

UpstreamTranscriber::~UpstreamTranscriber() = default;

QByteArray UpstreamTranscriber::wavFile(const QByteArray &pcm, int sampleRate)
{
    constexpr quint16 channels = 1;
    constexpr quint16 bitsPerSample = 16;
    constexpr quint16 blockAlign = channels * bitsPerSample / 8;
    QByteArray wav;
    wav.reserve(44 + pcm.size());
    const auto put32 = [&wav](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        wav.append(bytes, 4);
    };
    const auto put16 = [&wav](quint16 value) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        wav.append(bytes, 2);
    };
    wav.append("RIFF");
    put32(quint32(36 + pcm.size()));
    wav.append("WAVEfmt ");
    put32(16);
    put16(1); // integer PCM
    put16(channels);
    put32(quint32(sampleRate));
    put32(quint32(sampleRate) * blockAlign);
    put16(blockAlign);
    put16(bitsPerSample);
    wav.append("data");
    put32(quint32(pcm.size()));
    wav.append(pcm);
    return wav;
}

QString UpstreamTranscriber::serviceLanguage(const QString &code)
{
    const QString primary = code.section(u'-', 0, 0).toLower();
    // Whisper-class services know Norwegian as "no" and Filipino by its
    // base language, Tagalog; neither "nb" nor "fil" reaches them otherwise.
    if (primary == QLatin1String("nb"))
        return QStringLiteral("no");
    if (primary == QLatin1String("fil"))
        return QStringLiteral("tl");
    return primary;
}

QCoro::Task<> UpstreamTranscriber::waitForTurn()
{
    if (m_running < m_options.upstreamConcurrency) {
        ++m_running;
        co_return;
    }
    auto turn = std::make_shared<UpstreamTurn>();
    m_waiting.push_back(turn);
    // The finishing request hands its place over (m_running stays).
    co_await qCoro(turn.get(), &UpstreamTurn::granted);
}

void UpstreamTranscriber::endTurn()
{
    if (m_waiting.empty()) {
        --m_running;
        return;
    }
    const std::shared_ptr<UpstreamTurn> next = m_waiting.front();
    m_waiting.pop_front();
    // Queued, so that the next upload does not start inside this one's ending.
    QMetaObject::invokeMethod(
        next.get(), [next] { Q_EMIT next->granted(); }, Qt::QueuedConnection);
}

QCoro::Task<UpstreamTranscriber::Result> UpstreamTranscriber::transcribe(
    QByteArray pcm, int sampleRate, QString language, std::function<bool()> stillWanted)
{
    QPointer<UpstreamTranscriber> self(this);
    co_await waitForTurn();
    Result result;
    if (!self) {
        result.error = upstreamError(QStringLiteral("server shutting down"));
        co_return result;
    }
    if (stillWanted && !stillWanted()) {
        endTurn();
        result.error = upstreamError(QStringLiteral("client gone"));
        co_return result;
    }

    QUrl url = m_options.upstream;
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + QStringLiteral("/audio/transcriptions"));

    // Plain letters and digits, unquoted: not every small server's form
    // parser takes quotes off a boundary.
    quint32 random[4];
    QRandomGenerator::global()->fillRange(random);
    const QByteArray boundary
        = "tellwind-" + QByteArray(reinterpret_cast<const char *>(random), sizeof random).toHex();
    QByteArray form;
    const auto addField = [&form, &boundary](const QByteArray &disposition, const QByteArray &value,
                              const QByteArray &type = {}) {
        form += "--" + boundary + "\r\nContent-Disposition: form-data; " + disposition + "\r\n";
        if (!type.isEmpty())
            form += "Content-Type: " + type + "\r\n";
        form += "\r\n" + value + "\r\n";
    };
    addField("name=\"file\"; filename=\"speech.wav\"", wavFile(pcm, sampleRate), "audio/wav");
    pcm.clear();
    addField("name=\"model\"", m_options.upstreamModel.toUtf8());
    if (!language.isEmpty())
        addField("name=\"language\"", serviceLanguage(language).toUtf8());
    addField("name=\"response_format\"", "json");
    form += "--" + boundary + "--\r\n";

    QList<QPair<QByteArray, QByteArray>> headers {
        { "Content-Type", "multipart/form-data; boundary=" + boundary },
        { "Accept", "application/json" },
    };
    if (!m_options.upstreamKey.isEmpty())
        headers.append({ "Authorization", "Bearer " + m_options.upstreamKey });

    QElapsedTimer clock;
    clock.start();
    // Made before the co_await: g++ 12 destroys temporaries of an awaited
    // call's arguments twice.
    QCoro::Task<PlainHttpExchange::Answer> exchange = url.scheme() == QLatin1String("http")
        ? postPlain(url, headers, std::move(form))
        : postWithQt(url, headers, std::move(form));
    const PlainHttpExchange::Answer answer = co_await exchange;
    result.milliseconds = clock.elapsed();
    if (!self) {
        result.error = upstreamError(QStringLiteral("server shutting down"));
        co_return result;
    }
    endTurn();

    if (answer.timedOut) {
        result.error = upstreamError(QStringLiteral("timed out"));
    } else if (answer.tooLarge) {
        result.error = upstreamError(QStringLiteral("reply too large"));
    } else if (answer.status == 0) {
        // No HTTP answer at all: the transport's own words (they never hold
        // the key; the address's password is taken out).
        QString reason = answer.transportError;
        if (!url.password().isEmpty())
            reason.replace(url.password(), QStringLiteral("***"));
        result.error = upstreamError(reason.left(200));
    } else if (answer.status < 200 || answer.status > 299) {
        // Only the number: the reason phrase is the upstream's own text, and
        // some echo what they were sent, the key included.
        result.error = upstreamError(QString::number(answer.status));
    } else {
        const QJsonDocument json = QJsonDocument::fromJson(answer.body);
        const QJsonValue text = json.object().value(QStringLiteral("text"));
        if (!json.isObject() || !text.isString())
            result.error = upstreamError(QStringLiteral("malformed reply"));
        else
            result.text = text.toString().trimmed();
    }
    co_return result;
}

QCoro::Task<PlainHttpExchange::Answer> UpstreamTranscriber::postPlain(
    QUrl url, QList<QPair<QByteArray, QByteArray>> headers, QByteArray body)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: "
        + url.authority(QUrl::RemoveUserInfo | QUrl::FullyEncoded).toLatin1() + "\r\n";
    for (const auto &[name, value] : std::as_const(headers))
        request += name + ": " + value + "\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    request += body;
    body.clear();

    const auto exchange = std::make_unique<PlainHttpExchange>(
        url.host(), quint16(url.port(80)), std::move(request), m_options.upstreamTimeout, maxReplyBytes);
    if (!exchange->isFinished())
        co_await qCoro(exchange.get(), &PlainHttpExchange::finished);
    co_return exchange->answer();
}

QCoro::Task<PlainHttpExchange::Answer> UpstreamTranscriber::postWithQt(
    QUrl url, QList<QPair<QByteArray, QByteArray>> headers, QByteArray body)
{
    QNetworkRequest request(url);
    for (const auto &[name, value] : std::as_const(headers))
        request.setRawHeader(name, value);
    // The access manager owns the reply (and takes it down with itself).
    const QPointer<QNetworkReply> reply = m_network.post(request, body);
    body.clear();
    const auto dispose = qScopeGuard([reply] {
        if (reply)
            reply->deleteLater();
    });
    PlainHttpExchange::Answer answer;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QNetworkReply *raw = reply;
    connect(&deadline, &QTimer::timeout, raw, [raw, &answer] {
        answer.timedOut = true;
        raw->abort();
    });
    connect(raw, &QNetworkReply::downloadProgress, raw, [raw, &answer](qint64 received, qint64) {
        if (received > maxReplyBytes && !answer.tooLarge) {
            answer.tooLarge = true;
            raw->abort();
        }
    });
    deadline.start(m_options.upstreamTimeout);
    co_await raw;
    deadline.stop();
    if (!reply) {
        answer.transportError = QStringLiteral("server shutting down");
        co_return answer;
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0)
        answer.transportError = reply->errorString();
    answer.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    answer.body = reply->readAll();
    co_return answer;
}
