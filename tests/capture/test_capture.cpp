// The microphone on a PulseAudio of the test's own: the one the user chose, and the sound server going
// away under a running capture (killed, and started again at will).

#include "common/Settings.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "support/PrivatePulseAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace
{

// What a PulseAudio capture's tap and interruption handler saw, read on the test's thread.
struct Observed {
    QMutex mutex;
    float peak = 0;
    qint64 frames = 0;
    QList<AudioEngine::Interruption> events;
    QList<qint64> at; // milliseconds on `clock`
    QStringList reasons;
    QElapsedTimer clock;

    explicit Observed(AudioEngine &engine)
    {
        engine.installTap(1024, [this](const AudioBuffer &buffer) {
            const auto *samples = reinterpret_cast<const float *>(buffer.samples.constData());
            QMutexLocker lock(&mutex);
            frames += buffer.frameLength;
            for (qsizetype i = 0; i < buffer.samples.size() / qsizetype(sizeof(float)); ++i)
                peak = std::max(peak, std::abs(samples[i]));
        });
        engine.setInterruptionHandler([this](AudioEngine::Interruption what, const QString &reason) {
            QMutexLocker lock(&mutex);
            events << what;
            at << clock.elapsed();
            reasons << reason;
        });
    }
    template <typename T> T read(const T &field)
    {
        QMutexLocker lock(&mutex);
        return field;
    }
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { QFile::remove(Settings::filePath()); }

    void thePulseMicrophone()
    {
        using Interruption = AudioEngine::Interruption;
        PrivatePulseAudio pulse({ "module-null-sink sink_name=spk2",
            "module-remap-source master=spk2.monitor source_name=headset "
            "source_properties=device.description=Headset" });
        QVERIFY(pulse.start());
        const auto restore = PrivatePulseAudio::pointClientsAt(pulse.server());
        const QList<QPair<QString, QString>> sources = PulseAudioEngine::inputSources();
        QVERIFY2(sources.contains({ "headset", "Headset" }), qPrintable(QString::number(sources.size())));
        QVERIFY(std::none_of(sources.cbegin(), sources.cend(),
            [](const auto &source) { return source.first.endsWith(".monitor"); }));

        // The next capture takes the microphone chosen meanwhile, and hears what is played to it alone.
        Settings::setString(PulseAudioEngine::microphoneKey, "headset");
        std::unique_ptr<AudioEngine> chosen = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(chosen.get())->sourceName(), QString("headset"));
        Observed heard(*chosen);
        QCOMPARE(chosen->start(), std::optional<QString>());
        QTemporaryDir dir;
        const QString tone = dir.filePath("tone.wav");
        QCOMPARE(QProcess::execute(
                     "sox", QString("-n -r 16000 -c 1 %1 synth 0.5 sine 440 vol 0.5").arg(tone).split(' ')),
            0);
        QVERIFY(pulse.play(tone)); // to "spk": the default microphone's, not the headset's
        QTest::qWait(200);
        QCOMPARE(heard.read(heard.peak), 0.0f);
        QCOMPARE(QProcess::execute("paplay", { "-s", pulse.server(), "-d", "spk2", tone }), 0);
        QTRY_VERIFY(heard.read(heard.peak) > 0.1f);
        chosen->stop();
        // Unplugged: the default is used, and the log says so.
        Settings::setString(PulseAudioEngine::microphoneKey, "usb-headset-unplugged");
        LogCapture log;
        chosen = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(chosen.get())->sourceName(), QString("mic"));
        QCOMPARE(
            log.lines().filter("The chosen microphone 'usb-headset-unplugged' is not connected").size(), 1);

        // The loss is told at once; the server comes back within two seconds the first time, not the second.
        PulseAudioEngine engine;
        Observed seen(engine);
        QCOMPARE(engine.start(), std::optional<QString>());
        for (const Interruption then : { Interruption::resumed, Interruption::ended }) {
            // The monitor of an idle sink still hands over silence, in real time.
            const qint64 before = seen.read(seen.frames);
            QTRY_VERIFY(seen.read(seen.frames) > before + 4096);
            const qsizetype lost = seen.read(seen.events).size();
            seen.clock.start();
            pulse.kill();
            QTRY_VERIFY_WITH_TIMEOUT(seen.read(seen.events).size() > lost, 2000);
            QCOMPARE(seen.read(seen.events).at(lost), Interruption::lost);
            QCOMPARE_LT(seen.read(seen.at).at(lost), 1000);
            QVERIFY(seen.read(seen.reasons).at(lost).contains(QStringLiteral("sound server")));
            if (then == Interruption::resumed)
                QVERIFY(pulse.start());
            QTRY_COMPARE_WITH_TIMEOUT(
                seen.read(seen.events).mid(lost), (QList<Interruption> { Interruption::lost, then }), 5000);
        }
        // It gave up only once the server had been away for two seconds, for the same reason.
        QCOMPARE_GE(seen.read(seen.at).last(), 1900);
        QCOMPARE(seen.read(seen.reasons).last(), seen.read(seen.reasons).at(2));
        engine.stop();
        // With no sound server left, a start fails at once for want of a microphone.
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService service(PulseAudioEngine::factory(), alerts, workspace);
        QCOMPARE(QCoro::waitFor(service.startRecording([](QByteArray) {})),
            AudioError(AudioError::Code::inputNodeNotAvailable));
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
