// upstream_bench [--uploads N]
//
// What tellwind-server adds to a transcription it passes to an upstream
// service: the same client times N uploads of 3 s of audio sent to a local
// scripted upstream directly (as a WAV form) and through the server (as raw
// PCM, which the server turns into that form). Prints "name: value" lines.
#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>

#include <QCoro/QCoroAbstractSocket>
#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int sampleRate = 16000;
constexpr int audioSeconds = 3;
constexpr int warmUp = 10;

QByteArray multipartWav(const QByteArray &pcm, const QByteArray &boundary)
{
    QByteArray wav
        = "RIFF" + QByteArray(4, '\0') + "WAVEfmt " + QByteArray(20, '\0') + "data" + QByteArray(4, '\0');
    wav += pcm;
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"speech.wav\"\r\n"
        + "Content-Type: audio/wav\r\n\r\n" + wav + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nwhisper-1\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nes\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\njson\r\n--" + boundary
        + "--\r\n";
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

// Milliseconds for one request on a new connection, written in one piece with
// Nagle's algorithm off, so that the client's own waits do not hide the
// server's; negative when it fails.
QCoro::Task<double> timeRequest(quint16 port, QByteArray request)
{
    static const QRegularExpression length(
        QStringLiteral("content-length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!co_await qCoro(socket).waitForConnected(10000))
        co_return -1.0;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.write(request);
    QByteArray received;
    for (;;) {
        if (!co_await qCoro(socket).waitForReadyRead(10000))
            co_return -1.0;
        received += socket.readAll();
        const qsizetype headerEnd = received.indexOf("\r\n\r\n");
        const auto match = length.match(QString::fromLatin1(received.left(headerEnd)));
        if (headerEnd >= 0 && match.hasMatch()
            && received.size() - headerEnd - 4 >= match.captured(1).toInt())
            break;
    }
    const qint64 nanoseconds = clock.nsecsElapsed();
    if (!received.startsWith("HTTP/1.1 200") || !received.contains("hola"))
        co_return -1.0;
    co_return double(nanoseconds) / 1e6;
}

QByteArray post(const QByteArray &target, const QByteArray &contentType, const QByteArray &body)
{
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QCoro::Task<int> run(int uploads)
{
    ScriptedHttpServer upstream;
    upstream.fallback = ScriptedHttpServer::Reply(200, "{\"text\":\"hola señor\"}");
    ServerProcess server({ QStringLiteral("--decoders"), QStringLiteral("1"), QStringLiteral("--upstream"),
        upstream.baseUrl() + QStringLiteral("/v1") });
    if (!server.start()) {
        std::fprintf(stderr, "upstream_bench: the server did not start\n");
        co_return 1;
    }

    QByteArray pcm(sampleRate * 2 * audioSeconds, '\0');
    for (qsizetype i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 7);

    const QByteArray boundary = "benchboundary0123456789";
    const QByteArray direct = post(
        "/v1/audio/transcriptions", "multipart/form-data; boundary=" + boundary, multipartWav(pcm, boundary));
    const QByteArray proxied
        = post("/api/speech?sampleRate=16000&languageCode=es-ES", "application/octet-stream", pcm);

    // Direct and proxied uploads take turns, so that a busy moment of the
    // machine weighs on both; the overhead is the difference of each pair.
    std::vector<double> directTimes, proxiedTimes, overheads;
    for (int i = 0; i < warmUp + uploads; ++i) {
        // Each call made before its co_await: g++ 12 destroys temporaries of
        // an awaited call's arguments twice.
        QCoro::Task<double> directRun = timeRequest(upstream.port(), direct);
        const double directMs = co_await directRun;
        QCoro::Task<double> proxiedRun = timeRequest(server.port(), proxied);
        const double proxiedMs = co_await proxiedRun;
        if (directMs < 0 || proxiedMs < 0) {
            std::fprintf(stderr, "upstream_bench: a request failed\n");
            co_return 1;
        }
        if (i < warmUp)
            continue;
        directTimes.push_back(directMs);
        proxiedTimes.push_back(proxiedMs);
        overheads.push_back(proxiedMs - directMs);
    }

    std::printf("upstream_direct_p50: %.2f ms\n", percentile(directTimes, 0.50));
    std::printf("upstream_through_server_p50: %.2f ms\n", percentile(proxiedTimes, 0.50));
    std::printf("upstream_proxy_overhead_p50: %.2f ms (target < 5 ms, %d uploads of %d s)\n",
        percentile(overheads, 0.50), uploads, audioSeconds);
    std::printf("upstream_proxy_overhead_p99: %.2f ms\n", percentile(overheads, 0.99));
    std::fflush(stdout);
    co_return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int uploads = 200;
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--uploads"));
        at > 0 && at + 1 < arguments.size())
        uploads = std::max(1, arguments.at(at + 1).toInt());
    int status = 1;
    auto task = run(uploads).then([&status](int result) {
        status = result;
        QCoreApplication::quit();
    });
    app.exec();
    return status;
}
