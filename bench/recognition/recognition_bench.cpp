// Runs recordings through the whole on-device chain (virtual microphone,
// PulseAudio capture, conversion, PocketSphinx, the recognition manager) and
// through the engine alone (pocketsphinx_continuous -infile), and prints how
// the two compare: transcripts, CPU time and the wait for the final result.
//
//   recognition_bench [--sink bench16] [--suffix _x] [--runs 2] [--reference transcription] clip.wav ...

#include "WordErrors.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"
#include "speech/engines/pocketsphinx/PocketSphinxEngine.h"
#include "speech/engines/pocketsphinx/PocketSphinxModel.h"
#include "speech/engines/server/ServerEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <pocketsphinx.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

using namespace std::chrono_literals;

namespace
{

const QString modelFolder = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
constexpr int engineRuns = 2;

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Score {
    int edits = 0;
    int words = 0;
    void add(const QString &reference, const QString &hypothesis)
    {
        edits += countEdits(splitWords(reference), splitWords(hypothesis));
        words += int(splitWords(reference).size());
    }
    double rate() const { return words ? double(edits) / words : 0.0; }
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double position = p * double(values.size() - 1);
    const size_t low = size_t(position);
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (position - double(low));
}

void print(const QString &name, double value, const char *unit, int decimals = 3)
{
    std::printf("%s: %.*f%s%s\n", qPrintable(name), decimals, value, *unit ? " " : "", unit);
    std::fflush(stdout);
}

double durationOf(const QString &wav)
{
    return double(QFileInfo(wav).size() - 44) / 32000.0;
}

// When the engine gave a session's final result, seen from the main thread
// as the manager sees it.
struct SessionClock {
    QString lastFinal;
    qint64 finalAt = -1;
    QElapsedTimer *clock = nullptr;
};

// The on-device engine, its sessions timed.
SpeechEngine timedEngine(SpeechEngine inner, std::shared_ptr<SessionClock> clock)
{
    SpeechEngine timed = inner;
    timed.create = [create = inner.create, clock](const QString &language) {
        std::shared_ptr<EngineSession> session = create(language);
        QObject::connect(session.get(), &EngineSession::transcript, [clock](const TranscriptEvent &event) {
            if (event.isFinal) {
                clock->lastFinal = event.text;
                clock->finalAt = clock->clock->elapsed();
            }
        });
        return session;
    };
    return timed;
}

QCoro::Task<> exited(QProcess &process)
{
    process.waitForStarted();
    if (process.state() == QProcess::NotRunning)
        co_return;
    // A named awaiter: g++ 12 mishandles temporaries in co_await expressions.
    auto finished = qCoro(&process, &QProcess::finished);
    co_await finished;
}

struct EngineRun {
    QString transcript;
    double cpu = 0;
};

QCoro::Task<EngineRun> runEngine(const QString &wav)
{
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    QProcess engine;
    engine.start(QStringLiteral("pocketsphinx_continuous"),
        { QStringLiteral("-hmm"), modelFolder + QStringLiteral("/en-us"), QStringLiteral("-lm"),
            modelFolder + QStringLiteral("/en-us.lm.bin"), QStringLiteral("-dict"),
            modelFolder + QStringLiteral("/cmudict-en-us.dict"), QStringLiteral("-logfn"),
            QStringLiteral("/dev/null"), QStringLiteral("-infile"), wav });
    QCoro::Task<> done = exited(engine);
    co_await std::move(done);
    EngineRun run;
    QStringList utterances;
    for (const QString &line : QString::fromUtf8(engine.readAllStandardOutput()).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            utterances << line.trimmed();
    }
    run.transcript = utterances.join(u' ');
    run.cpu = cpuSeconds(RUSAGE_CHILDREN) - before;
    co_return run;
}

// The engine's own work at the end of an utterance (its second and third
// passes), which no pipeline can hide: what our latency is made of.
double engineFinishMs(const QString &wav)
{
    const QByteArray hmm = (modelFolder + QStringLiteral("/en-us")).toLocal8Bit();
    const QByteArray lm = (modelFolder + QStringLiteral("/en-us.lm.bin")).toLocal8Bit();
    const QByteArray dict = (modelFolder + QStringLiteral("/cmudict-en-us.dict")).toLocal8Bit();
    static ps_decoder_t *decoder = nullptr;
    if (!decoder) {
        cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm",
            lm.constData(), "-dict", dict.constData(), "-logfn", "/dev/null", nullptr);
        decoder = ps_init(config);
        cmd_ln_free_r(config);
    }
    QFile file(wav);
    if (!decoder || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray data = file.readAll().mid(44);
    const auto *samples = reinterpret_cast<const int16 *>(data.constData());
    ps_start_utt(decoder);
    ps_process_raw(decoder, samples, size_t(data.size() / 2), FALSE, FALSE);
    QElapsedTimer timer;
    timer.start();
    ps_end_utt(decoder);
    ps_get_hyp(decoder, nullptr);
    return double(timer.nsecsElapsed()) / 1e6;
}

// The clip behind a lead-in of digital silence. The virtual microphone
// loses the first 64 ms of every stream played into it (PulseAudio's null
// sink, when it wakes from idle); the lead-in takes that loss, and the
// recognizer skips what remains of it, so the decoder hears the clip exactly.
QString withLeadIn(const QString &clip, const QString &folder)
{
    constexpr qsizetype leadInSamples = 8000;
    QFile in(clip);
    if (!in.open(QIODevice::ReadOnly))
        return clip;
    const QByteArray bytes = in.readAll();
    QByteArray header = bytes.left(44);
    const QByteArray data = bytes.mid(44);
    const quint32 dataBytes = quint32(data.size() + leadInSamples * 2);
    qToLittleEndian<quint32>(36 + dataBytes, header.data() + 4);
    qToLittleEndian<quint32>(dataBytes, header.data() + 40);
    const QString path = QDir(folder).filePath(QFileInfo(clip).fileName());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return clip;
    out.write(header);
    out.write(QByteArray(leadInSamples * 2, '\0'));
    out.write(data);
    return path;
}

QMap<QString, QString> readReference(const QString &path)
{
    QMap<QString, QString> reference;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return reference;
    static const QRegularExpression line(QStringLiteral("^(.*)\\((\\S+)\\)\\s*$"));
    for (const QString &text : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        QString words = match.captured(1);
        words.remove(QStringLiteral("<s>")).remove(QStringLiteral("</s>"));
        reference[match.captured(2)] = words.simplified();
    }
    return reference;
}

struct Listening {
    bool started = false;
    QString transcript;
    double cpu = 0;
    double latencyMs = 0;
};

// One session of the manager on one recording: played in real time, stopped
// a moment after it ended, measured until its final result.
QCoro::Task<Listening> listen(
    SpeechRecognitionManager &manager, SessionClock &session, QElapsedTimer &clock, QString sink, QString wav)
{
    Listening heard;
    session = SessionClock { QString(), -1, &clock };
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const std::shared_ptr<RecognitionSession> listening = co_await manager.startListening();
    if (!listening)
        co_return heard;
    heard.started = true;
    QProcess player;
    player.start(QStringLiteral("paplay"), { QStringLiteral("-d"), sink, wav });
    QCoro::Task<> played = exited(player);
    co_await std::move(played);
    // A user stops a moment after the last word; by then the sound server
    // has handed over everything that was played.
    co_await QCoro::sleepFor(250ms);
    const qint64 stoppedAt = clock.elapsed();
    // Returns once the decoder said its last words.
    co_await manager.stopListening(listening);
    heard.cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    heard.transcript = manager.transcribedText();
    if (session.finalAt < 0) {
        // No final result at all: count the whole wait.
        std::fprintf(stderr, "recognition_bench: no final result for %s\n", qPrintable(wav));
        heard.latencyMs = double(clock.elapsed() - stoppedAt);
    } else {
        // A final from before the stop (the pause after the last word ended
        // the utterance) was already there when the user stopped.
        heard.latencyMs = std::max(0.0, double(session.finalAt - stoppedAt));
    }
    co_return heard;
}

QCoro::Task<int> run(QStringList clips, QString sink, QString suffix, QString referencePath, int ourRuns)
{
    QElapsedTimer clock;
    clock.start();
    auto session = std::make_shared<SessionClock>();
    session->clock = &clock;
    const std::shared_ptr<PocketSphinxDecoderPool> pool = PocketSphinxDecoderPool::create();
    SpeechService server(QStringLiteral("http://127.0.0.1:9"));
    EngineRegistry engines;
    engines.add(timedEngine(pocketSphinxEngine(pool), session));
    engines.add(serverEngine(server));
    PulseMicrophoneAuthorization microphone(PulseAudioEngine::factory());
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    SpeechRecognitionManager manager(engines, microphone,
        std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), alerts, workspace));
    const auto model = PocketSphinxModel::forLocale(QStringLiteral("en-US"));
    if (!model || manager.activeEngine() != QStringLiteral("On-device")) {
        std::fprintf(stderr, "recognition_bench: no on-device recognizer\n");
        co_return 1;
    }
    // Loading is measured apart (the engine's own load is left out below too).
    pool->preload(*model);
    while (pool->state(*model) == PocketSphinxDecoderPool::State::loading)
        co_await QCoro::sleepFor(20ms);

    // What loading the model costs the engine alone, to leave it out.
    QTemporaryDir folder;
    const QString quiet = folder.filePath(QStringLiteral("quiet.wav"));
    QProcess::execute(QStringLiteral("sox"),
        { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
            QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), quiet, QStringLiteral("trim"),
            QStringLiteral("0"), QStringLiteral("0.1") });
    // Other work on the machine only ever adds CPU time: the least of a few
    // runs is the engine's own cost.
    double engineLoadCpu = 1e9;
    for (int attempt = 0; attempt < engineRuns; ++attempt) {
        QCoro::Task<EngineRun> idleRun = runEngine(quiet);
        const EngineRun idle = co_await std::move(idleRun);
        engineLoadCpu = std::min(engineLoadCpu, idle.cpu);
    }

    const QMap<QString, QString> reference = readReference(referencePath);
    Score oursVsEngine, engineVsReference, oursVsReference;
    std::vector<double> latencies, finishes;
    double ourCpu = 0, engineCpu = 0, engineCpuWithLoad = 0, audioSeconds = 0;

    for (const QString &clip : clips) {
        const QString id = QFileInfo(clip).completeBaseName();
        const QString shortId = id.section(u'-', -1);
        const double seconds = durationOf(clip);
        audioSeconds += seconds;

        EngineRun engine;
        engine.cpu = 1e9;
        for (int attempt = 0; attempt < engineRuns; ++attempt) {
            QCoro::Task<EngineRun> engineRun = runEngine(clip);
            const EngineRun result = co_await std::move(engineRun);
            engine.transcript = result.transcript;
            engine.cpu = std::min(engine.cpu, result.cpu);
        }
        engineCpu += std::max(0.0, engine.cpu - engineLoadCpu);
        engineCpuWithLoad += engine.cpu;
        finishes.push_back(engineFinishMs(clip));

        double clipCpu = 1e9;
        QStringList transcripts;
        for (int attempt = 0; attempt < ourRuns; ++attempt) {
            QCoro::Task<Listening> listening
                = listen(manager, *session, clock, sink, withLeadIn(clip, folder.path()));
            const Listening heard = co_await std::move(listening);
            if (!heard.started) {
                std::fprintf(stderr, "recognition_bench: the session did not start\n");
                co_return 1;
            }
            clipCpu = std::min(clipCpu, heard.cpu);
            latencies.push_back(heard.latencyMs);
            transcripts << heard.transcript;
        }
        ourCpu += clipCpu;

        // Every session counts: the pipeline must get what the engine gets
        // each time, not on average.
        Score clipVsEngine, ourScore;
        for (const QString &ours : transcripts) {
            clipVsEngine.add(engine.transcript, ours);
            oursVsEngine.add(engine.transcript, ours);
            if (reference.contains(id)) {
                ourScore.add(reference[id], ours);
                oursVsReference.add(reference[id], ours);
            }
            if (ours != engine.transcript)
                std::fprintf(
                    stderr, "  engine: %s\n  ours:   %s\n", qPrintable(engine.transcript), qPrintable(ours));
        }
        print(QStringLiteral("recognition_clip_%1_wer_vs_engine%2").arg(shortId, suffix), clipVsEngine.rate(),
            "");
        if (reference.contains(id)) {
            Score engineScore;
            engineScore.add(reference[id], engine.transcript);
            engineVsReference.add(reference[id], engine.transcript);
            print(QStringLiteral("recognition_clip_%1_wer_engine_vs_reference%2").arg(shortId, suffix),
                engineScore.rate(), "");
            print(QStringLiteral("recognition_clip_%1_wer_ours_vs_reference%2").arg(shortId, suffix),
                ourScore.rate(), "");
        }
    }

    print(QStringLiteral("recognition_wer_vs_engine%1").arg(suffix), oursVsEngine.rate(), "");
    if (engineVsReference.words > 0) {
        print(QStringLiteral("recognition_wer_engine_vs_reference%1").arg(suffix), engineVsReference.rate(),
            "");
        print(QStringLiteral("recognition_wer_ours_vs_reference%1").arg(suffix), oursVsReference.rate(), "");
    }
    print(QStringLiteral("recognition_cpu_per_audio_second%1").arg(suffix), ourCpu / audioSeconds, "s/s");
    print(QStringLiteral("recognition_engine_cpu_per_audio_second%1").arg(suffix), engineCpu / audioSeconds,
        "s/s");
    print(QStringLiteral("recognition_cpu_ratio_vs_engine%1").arg(suffix),
        engineCpu > 0 ? ourCpu / engineCpu : 0, "");
    print(QStringLiteral("recognition_cpu_ratio_vs_engine_with_model_load%1").arg(suffix),
        engineCpuWithLoad > 0 ? ourCpu / engineCpuWithLoad : 0, "");
    print(QStringLiteral("recognition_final_latency_p50%1").arg(suffix), percentile(latencies, 0.5), "ms", 1);
    print(QStringLiteral("recognition_final_latency_max%1").arg(suffix), percentile(latencies, 1.0), "ms", 1);
    print(QStringLiteral("recognition_engine_finish_p50%1").arg(suffix), percentile(finishes, 0.5), "ms", 1);
    co_return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    QString sink = QStringLiteral("spk");
    QString suffix;
    QString reference;
    int runs = 2;
    QStringList clips;
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if (argument == QLatin1String("--sink") && !arguments.isEmpty())
            sink = arguments.takeFirst();
        else if (argument == QLatin1String("--suffix") && !arguments.isEmpty())
            suffix = arguments.takeFirst();
        else if (argument == QLatin1String("--runs") && !arguments.isEmpty())
            runs = std::max(1, arguments.takeFirst().toInt());
        else if (argument == QLatin1String("--reference") && !arguments.isEmpty())
            reference = arguments.takeFirst();
        else
            clips << argument;
    }
    int status = 1;
    QTimer::singleShot(0, &application, [&] {
        QCoro::connect(run(clips, sink, suffix, reference, runs), &application, [&](int result) {
            status = result;
            application.quit();
        });
    });
    application.exec();
    return status;
}
