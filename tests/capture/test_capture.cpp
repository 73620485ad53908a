#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAudioEngine.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "speech/PcmConverter.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>

namespace {

// The consumer runs on the service's worker thread.
class ChunkSink
{
public:
    AudioRecordingService::Callback callback()
    {
        return [this](QByteArray chunk) {
            QMutexLocker lock(&m_mutex);
            m_threads.insert(QThread::currentThread());
            m_chunks.append(chunk);
        };
    }
    QList<QByteArray> chunks() const
    {
        QMutexLocker lock(&m_mutex);
        return m_chunks;
    }
    qsizetype count() const { return chunks().size(); }
    QByteArray all() const { return chunks().join(); }
    bool ranOnlyOffThread(QThread *main) const
    {
        QMutexLocker lock(&m_mutex);
        return !m_threads.isEmpty() && !m_threads.contains(main);
    }

private:
    mutable QMutex m_mutex;
    QList<QByteArray> m_chunks;
    QSet<QThread *> m_threads;
};

template <typename T>
T finish(QCoro::Task<T> task)
{
    std::optional<T> result;
    [](QCoro::Task<T> task, std::optional<T> &result) -> QCoro::Task<> {
        result = co_await task;
    }(std::move(task), result);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000); }();
    return result.value_or(T {});
}

void finish(QCoro::Task<> task)
{
    bool done = false;
    [](QCoro::Task<> task, bool &done) -> QCoro::Task<> {
        co_await task;
        done = true;
    }(std::move(task), done);
    QTRY_VERIFY_WITH_TIMEOUT(done, 15000);
}

std::vector<qint16> samplesOf(const QByteArray &bytes)
{
    std::vector<qint16> samples(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

double rms(const std::vector<qint16> &samples, size_t from, size_t count)
{
    double sum = 0;
    for (size_t i = from; i < from + count && i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(count));
}

struct Rig {
    std::shared_ptr<FakeAudioEngine::Control> engine = std::make_shared<FakeAudioEngine::Control>();
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    AudioRecordingService service { FakeAudioEngine::factory(engine), alerts, workspace };
    ChunkSink sink;
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startsAndStopsOnce()
    {
        LogCapture log;
        Rig rig;
        finish(rig.service.stopRecording());
        QCOMPARE(log.lines(), QStringList { QStringLiteral("🎙️ [Audio] Not recording, nothing to stop") });

        QCOMPARE(finish(rig.service.startRecording(rig.sink.callback())), std::optional<AudioError>());
        QVERIFY(rig.service.isRecording());
        QCOMPARE(rig.engine->tapBufferFrames, 4096u);
        QCOMPARE(log.lines().mid(1), QStringList({
                                         QStringLiteral("🎙️ [Audio] Initializing audio engine..."),
                                         QStringLiteral("🎙️ [Audio] Native format: 48000.0Hz, 1 channels"),
                                         QStringLiteral("🎙️ [Audio] Target format: 16000.0Hz, 1 channels"),
                                         QStringLiteral("🎙️ [Audio] Installing tap on input node..."),
                                         QStringLiteral("🎙️ [Audio] Starting audio engine..."),
                                         QStringLiteral("✅ [Audio] Recording started successfully"),
                                     }));

        // A second start keeps the first consumer.
        ChunkSink other;
        QCOMPARE(finish(rig.service.startRecording(other.callback())), std::optional<AudioError>());
        QVERIFY(log.lines().contains(QStringLiteral("🎙️ [Audio] Already recording, skipping")));
        QCOMPARE(rig.engine->enginesMade, 1);
        rig.engine->deliver(4096);
        QTRY_COMPARE(rig.sink.count(), 1);
        QCOMPARE(other.count(), 0);
        QVERIFY(rig.sink.ranOnlyOffThread(QThread::currentThread()));

        finish(rig.service.stopRecording());
        QVERIFY(!rig.service.isRecording());
        QCOMPARE(rig.engine->stops, 1);
        QVERIFY(log.lines().contains(QStringLiteral("✅ [Audio] Recording stopped")));

        // Every start makes a new engine.
        QCOMPARE(finish(rig.service.startRecording(rig.sink.callback())), std::optional<AudioError>());
        QCOMPARE(rig.engine->enginesMade, 2);
        finish(rig.service.stopRecording());
    }

    void reportsStartFailures()
    {
        {
            LogCapture log;
            Rig rig;
            rig.engine->failCreation = true;
            QCOMPARE(finish(rig.service.startRecording(rig.sink.callback())),
                     AudioError(AudioError::Code::engineInitializationFailed));
            QVERIFY(log.lines().contains(QStringLiteral("❌ [Audio] Failed to create audio engine")));
        }
        {
            LogCapture log;
            Rig rig;
            rig.engine->hasInputNode = false;
            const auto error = finish(rig.service.startRecording(rig.sink.callback()));
            QCOMPARE(error, AudioError(AudioError::Code::inputNodeNotAvailable));
            QCOMPARE(error->errorDescription(), QStringLiteral("Audio input not available"));
            QVERIFY(log.lines().contains(QStringLiteral("❌ [Audio] Input node not available")));
            QVERIFY(rig.alerts.shown.isEmpty());
        }
        {
            // The sound server's own words reach the caller, and the service stays idle.
            LogCapture log;
            Rig rig;
            rig.engine->startError = QStringLiteral("Could not open the microphone 'mic': Access denied");
            const auto error = finish(rig.service.startRecording(rig.sink.callback()));
            QVERIFY(error);
            QCOMPARE(error->errorDescription(), QStringLiteral("Could not open the microphone 'mic': Access denied"));
            QVERIFY(!rig.service.isRecording());
            QVERIFY(!rig.engine->deliver(4096)); // no tap left behind
            finish(rig.service.stopRecording());
            QVERIFY(log.lines().contains(QStringLiteral("🎙️ [Audio] Not recording, nothing to stop")));
        }
        {
            // A format the converter cannot take is refused rather than passed on raw.
            Rig rig;
            rig.engine->format = { 48000.0, 0 };
            QCOMPARE(finish(rig.service.startRecording(rig.sink.callback())),
                     AudioError(AudioError::Code::formatCreationFailed));
        }
    }

    void asksForTheMicrophoneWhenItIsUnusable()
    {
        for (const int answer : { 1000, 1001 }) {
            LogCapture log;
            Rig rig;
            rig.engine->format = { 0.0, 2 };
            rig.alerts.answers = { answer };
            const auto error = finish(rig.service.startRecording(rig.sink.callback()));
            QCOMPARE(error, AudioError(AudioError::Code::inputNodeNotAvailable));
            QVERIFY(log.lines().contains(QStringLiteral("❌ [Audio] Invalid audio format - microphone not accessible")));
            QVERIFY(log.lines().contains(QStringLiteral("🎙️ [Audio] Native format: 0.0Hz, 2 channels")));
            QCOMPARE(rig.alerts.shown.size(), 1);
            const Alert &alert = rig.alerts.shown.first();
            QCOMPARE(alert.style, Alert::Style::warning);
            QCOMPARE(alert.title, QStringLiteral("Microphone Access Required"));
            QVERIFY(alert.informativeText.startsWith(
                QStringLiteral("Tellwind needs microphone access to transcribe your speech.\n\nTo enable:\n")));
            QCOMPARE(alert.buttons, QStringList({ QStringLiteral("Open System Settings"), QStringLiteral("Cancel") }));
            QCOMPARE(rig.workspace.openedPanes.size(), answer == 1000 ? 1 : 0);
            if (answer == 1000)
                QCOMPARE(rig.workspace.openedPanes.first(), Workspace::Pane::microphone);
        }
    }

    void convertsWithoutLosingAudio()
    {
        Rig rig;
        QVERIFY(!finish(rig.service.startRecording(rig.sink.callback())));
        const int buffers = 60;
        for (int i = 0; i < buffers; ++i)
            rig.engine->deliver(4096, 0.1f);
        QTRY_VERIFY(rig.sink.count() >= buffers - 1);

        // Past the resampler's start-up a 4096-frame buffer at 48 kHz gives
        // 1365 samples, and a 1366th every third buffer so nothing drifts.
        const QList<QByteArray> chunks = rig.sink.chunks();
        for (qsizetype i = 1; i < chunks.size(); ++i)
            QVERIFY2(chunks[i].size() == 2730 || chunks[i].size() == 2732, qPrintable(QString::number(chunks[i].size())));

        // The stop hands over what the resampler still holds: in total the
        // output lasts exactly as long as the input.
        finish(rig.service.stopRecording());
        const qsizetype outputSamples = rig.sink.all().size() / 2;
        QVERIFY(qAbs(outputSamples - qRound(buffers * 4096 / 3.0)) <= 1);

        // A steady input level comes out at the same level.
        const std::vector<qint16> samples = samplesOf(rig.sink.all());
        QVERIFY(qAbs(samples[samples.size() / 2] - 3277) <= 2);

        // Stereo at 44.1 kHz, with a last buffer shorter than the others.
        Rig stereo;
        stereo.engine->format = { 44100.0, 2 };
        QVERIFY(!finish(stereo.service.startRecording(stereo.sink.callback())));
        for (int i = 0; i < 20; ++i)
            stereo.engine->deliver(4096);
        stereo.engine->deliver(1000);
        finish(stereo.service.stopRecording());
        const double expected = (20 * 4096 + 1000) * 16000.0 / 44100.0;
        QVERIFY2(std::abs(double(stereo.sink.all().size() / 2) - expected) <= 1.0,
                 qPrintable(QStringLiteral("%1 samples").arg(stereo.sink.all().size() / 2)));
    }

    void keepsCaptureOrder()
    {
        Rig rig;
        QVERIFY(!finish(rig.service.startRecording(rig.sink.callback())));
        // Loud buffers at known places among silent ones: the loud stretches
        // must come out at the same places.
        const QSet<int> loud { 3, 4, 11, 17 };
        for (int i = 0; i < 24; ++i)
            rig.engine->deliver(4096, loud.contains(i) ? 0.5f : 0.0f);
        finish(rig.service.stopRecording());
        const std::vector<qint16> samples = samplesOf(rig.sink.all());
        const double perBuffer = 4096 / 3.0;
        for (int i = 0; i < 24; ++i) {
            const double level = rms(samples, size_t(i * perBuffer + 200), 900);
            QVERIFY2(loud.contains(i) ? level > 10000 : level < 100, qPrintable(QStringLiteral("buffer %1").arg(i)));
        }
    }

    void logsSparinglyAndDropsBuffersAfterStop()
    {
        LogCapture log;
        Rig rig;
        QVERIFY(!finish(rig.service.startRecording(rig.sink.callback())));
        for (int i = 0; i < 101; ++i)
            rig.engine->deliver(4096, i == 0 ? 0.25f : -0.5f);
        QTRY_COMPARE(rig.service.bufferCount(), 101);
        QCOMPARE(log.linesStartingWith(QStringLiteral("🎙️ [Audio] Buffer #")),
                 QStringList({ QStringLiteral("🎙️ [Audio] Buffer #1: 4096 frames, max amplitude: 0.25"),
                               QStringLiteral("🎙️ [Audio] Buffer #51: 4096 frames, max amplitude: 0.5"),
                               QStringLiteral("🎙️ [Audio] Buffer #101: 4096 frames, max amplitude: 0.5") }));
        const QStringList sending = log.linesStartingWith(QStringLiteral("🎙️ [Audio] Sending "));
        QCOMPARE(sending.size(), 3);
        QVERIFY(sending[1] == QStringLiteral("🎙️ [Audio] Sending 2730 bytes to callback")
                || sending[1] == QStringLiteral("🎙️ [Audio] Sending 2732 bytes to callback"));

        finish(rig.service.stopRecording());
        const qsizetype delivered = rig.sink.count();
        // A buffer the engine hands over late, through a tap it still holds.
        FakeAudioEngine::Tap late;
        {
            Rig other;
            QVERIFY(!finish(other.service.startRecording(other.sink.callback())));
            late = other.engine->tap;
            finish(other.service.stopRecording());
            AudioBuffer buffer { other.engine->format, 4096, QByteArray(4096 * 4, '\0') };
            late(buffer);
            QTest::qWait(100);
            QCOMPARE(other.service.bufferCount(), 0);
            QCOMPARE(other.sink.count(), 0);
        }
        QCOMPARE(rig.sink.count(), delivered);
        QCOMPARE(rig.service.bufferCount(), 101);
    }

    void capturesTheDefaultPulseAudioSource()
    {
        if (qEnvironmentVariableIsEmpty("TELLWIND_HARNESS"))
            QSKIP("needs the harness's PulseAudio");
        QTemporaryDir dir;
        const QString tone = dir.filePath(QStringLiteral("tone.wav"));
        QCOMPARE(QProcess::execute(QStringLiteral("sox"),
                                   { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"),
                                     QStringLiteral("-c"), QStringLiteral("1"), tone, QStringLiteral("synth"),
                                     QStringLiteral("1.0"), QStringLiteral("sine"), QStringLiteral("440"),
                                     QStringLiteral("vol"), QStringLiteral("0.5") }),
                 0);

        PulseAudioEngine probe;
        QVERIFY(probe.hasInputNode());
        QCOMPARE(probe.sourceName(), QStringLiteral("mic"));
        QVERIFY(probe.inputFormat().sampleRate > 0);

        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService service(PulseAudioEngine::factory(), alerts, workspace);
        ChunkSink sink;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(finish(service.startRecording(sink.callback())), std::optional<AudioError>());
        QProcess player;
        player.start(QStringLiteral("paplay"), { QStringLiteral("-d"), QStringLiteral("spk"), tone });
        QVERIFY(player.waitForFinished(10000));
        // The sound server hands the monitor over in blocks: wait for the whole tone.
        const auto loudMilliseconds = [&sink] {
            const std::vector<qint16> samples = samplesOf(sink.all());
            int loud = 0;
            for (size_t window = 0; window + 160 <= samples.size(); window += 160)
                loud += rms(samples, window, 160) > 4000 ? 10 : 0;
            return loud;
        };
        QTRY_VERIFY_WITH_TIMEOUT(loudMilliseconds() >= 980, 5000);
        QTest::qWait(300);
        finish(service.stopRecording());
        const qint64 elapsedMs = clock.elapsed();

        // The one-second tone comes out one second long: nothing dropped or
        // repeated at buffer edges, and the capture lasted as long as it ran.
        QVERIFY2(qAbs(loudMilliseconds() - 1000) <= 20, qPrintable(QString::number(loudMilliseconds())));
        const double capturedMs = double(sink.all().size()) / 32.0;
        QVERIFY2(capturedMs > 1000 && capturedMs < elapsedMs + 100,
                 qPrintable(QStringLiteral("%1 ms captured in %2 ms").arg(capturedMs).arg(elapsedMs)));
        QVERIFY(alerts.shown.isEmpty());
    }

    void failsQuicklyWithoutASoundServer()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/tellwind-test/native");
        LogCapture log;
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService service(PulseAudioEngine::factory(), alerts, workspace);
        ChunkSink sink;
        const auto error = finish(service.startRecording(sink.callback()));
        qputenv("PULSE_SERVER", saved);
        if (saved.isNull())
            qunsetenv("PULSE_SERVER");
        QCOMPARE(error, AudioError(AudioError::Code::inputNodeNotAvailable));
        QVERIFY(!log.linesStartingWith(QStringLiteral("❌ [Audio] PulseAudio: cannot reach the sound server")).isEmpty());
        QVERIFY(log.lines().contains(QStringLiteral("❌ [Audio] Input node not available")));
    }

    void convertsOnItsOwn()
    {
        PcmConverter invalid(AudioFormat { 0.0, 1 });
        QVERIFY(!invalid.isValid());
        QVERIFY(invalid.convert(AudioBuffer { { 0.0, 1 }, 4, QByteArray(16, '\0') }).isEmpty());

        // Full scale is clipped, not wrapped round.
        PcmConverter converter(AudioFormat { 16000.0, 1 });
        QVERIFY(converter.isValid());
        std::vector<float> loud(1600, 2.0f);
        QByteArray bytes(reinterpret_cast<const char *>(loud.data()), qsizetype(loud.size() * sizeof(float)));
        QByteArray out = converter.convert(AudioBuffer { { 16000.0, 1 }, 1600, bytes });
        out += converter.flush();
        QCOMPARE(out.size(), 3200);
        const std::vector<qint16> samples = samplesOf(out);
        QCOMPARE(samples[800], qint16(32767));
        QCOMPARE(converter.inputFrames(), 1600);
        QCOMPARE(converter.outputFrames(), 1600);

        // After a flush the same converter takes a new stream.
        out = converter.convert(AudioBuffer { { 16000.0, 1 }, 1600, bytes });
        out += converter.flush();
        QCOMPARE(out.size(), 3200);
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
