// CPU cost of capturing the microphone and converting it for upload, per
// second of audio: the real PulseAudio backend and converter, for a while.
#include "platform/AlertPresenter.h"
#include "platform/Workspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "speech/PcmConverter.h"

#include <QCoreApplication>
#include <QTimer>

#include <qcoro/qcorotimer.h>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{

class SilentAlerts : public AlertPresenter
{
public:
    QCoro::Task<int> runModal(Alert) override { co_return firstButton + 1; }
};

class NoWorkspace : public Workspace
{
public:
    bool openUrl(const QUrl &) override { return false; }
    void revealFile(const QString &) override { }
    void openSettingsPane(Pane) override { }
};

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The converter alone on 48 kHz stereo, the commonest microphone format.
double conversionCostPerAudioSecond()
{
    const AudioFormat format { 48000.0, 2 };
    AudioBuffer buffer { format, 4096, QByteArray(4096 * 2 * sizeof(float), Qt::Uninitialized) };
    auto *samples = reinterpret_cast<float *>(buffer.samples.data());
    for (int i = 0; i < 4096 * 2; ++i)
        samples[i] = 0.3f * std::sin(float(i) * 0.01f);
    PcmConverter converter(format);
    const int buffers = 6000; // about 8.5 minutes of audio
    const double start = cpuSeconds();
    qsizetype bytes = 0;
    for (int i = 0; i < buffers; ++i)
        bytes += converter.convert(buffer).size();
    bytes += converter.flush().size();
    const double cpu = cpuSeconds() - start;
    return bytes > 0 ? cpu / (buffers * 4096 / 48000.0) : -1;
}

QCoro::Task<int> measureCapture(AudioRecordingService &service, int seconds)
{
    auto bytes = std::make_shared<std::atomic<qint64>>(0);
    const auto error = co_await service.startRecording([bytes](QByteArray chunk) { *bytes += chunk.size(); });
    if (error) {
        std::fprintf(stderr, "bench_capture: %s\n", qPrintable(error->errorDescription()));
        co_return 1;
    }
    const double cpuAtStart = cpuSeconds();
    QTimer wait;
    wait.setSingleShot(true);
    wait.start(seconds * 1000);
    co_await wait;
    co_await service.stopRecording();
    const double cpu = cpuSeconds() - cpuAtStart;
    const double audioSeconds = double(bytes->load()) / 32000.0;
    std::printf("capture_audio_seconds: %.2f s\n", audioSeconds);
    std::printf("capture_cpu_per_audio_second: %.5f s/s (target < 0.02)\n",
        audioSeconds > 0 ? cpu / audioSeconds : -1.0);
    co_return audioSeconds > 0 ? 0 : 1;
}

QCoro::Task<> run(AudioRecordingService &service, int seconds, int &status)
{
    status = co_await measureCapture(service, seconds);
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    std::printf("conversion_cpu_per_audio_second: %.5f s/s\n", conversionCostPerAudioSecond());
    std::fflush(stdout);

    SilentAlerts alerts;
    NoWorkspace workspace;
    AudioRecordingService service(PulseAudioEngine::factory(), alerts, workspace);
    int status = 0;
    QTimer::singleShot(0, &app, [&] { run(service, seconds, status); });
    app.exec();
    return status;
}
