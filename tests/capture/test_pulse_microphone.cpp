// The microphone on a PulseAudio of the test's own: the one the user chose,
// and the sound server going away under a running capture (killed, and
// started again at will).

#include "common/Settings.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
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

struct Observed {
    mutable QMutex mutex;
    qint64 frames = 0;
    QList<AudioEngine::Interruption> events;
    QList<qint64> at; // milliseconds on `clock`
    QStringList reasons;
    QElapsedTimer clock;

    qint64 framesSoFar() const
    {
        QMutexLocker lock(&mutex);
        return frames;
    }
    QList<AudioEngine::Interruption> eventsSoFar() const
    {
        QMutexLocker lock(&mutex);
        return events;
    }
};

} // namespace

class TestPulseMicrophone : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { QFile::remove(Settings::filePath()); }

    void theChosenMicrophoneIsCapturedOrTheDefaultWhenItIsGone()
    {
        PrivatePulseAudio pulse({ "module-null-sink sink_name=spk2",
            "module-remap-source master=spk2.monitor source_name=headset "
            "source_properties=device.description=Headset" });
        QVERIFY(pulse.start());
        const auto restore = PrivatePulseAudio::pointClientsAt(pulse.server());

        const QList<QPair<QString, QString>> sources = PulseAudioEngine::inputSources();
        QVERIFY2(sources.contains({ "headset", "Headset" }), qPrintable(QString::number(sources.size())));
        QVERIFY(std::none_of(sources.cbegin(), sources.cend(),
            [](const auto &source) { return source.first.endsWith(".monitor"); }));

        // The next capture takes the microphone chosen meanwhile, and hears
        // what is played to it alone.
        Settings::setString(PulseAudioEngine::microphoneKey, "headset");
        std::unique_ptr<AudioEngine> engine = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(engine.get())->sourceName(), QString("headset"));
        QMutex mutex;
        float peak = 0;
        engine->installTap(1024, [&](const AudioBuffer &buffer) {
            const auto *samples = reinterpret_cast<const float *>(buffer.samples.constData());
            QMutexLocker lock(&mutex);
            for (qsizetype i = 0; i < buffer.samples.size() / qsizetype(sizeof(float)); ++i)
                peak = std::max(peak, std::abs(samples[i]));
        });
        QCOMPARE(engine->start(), std::optional<QString>());
        QTemporaryDir dir;
        const QString tone = dir.filePath("tone.wav");
        QCOMPARE(QProcess::execute(
                     "sox", QString("-n -r 16000 -c 1 %1 synth 0.5 sine 440 vol 0.5").arg(tone).split(' ')),
            0);
        QVERIFY(pulse.play(tone)); // to "spk": the default microphone's, not the headset's
        QTest::qWait(200);
        {
            QMutexLocker lock(&mutex);
            QCOMPARE(peak, 0.0f);
        }
        QCOMPARE(QProcess::execute("paplay", { "-s", pulse.server(), "-d", "spk2", tone }), 0);
        QTRY_VERIFY([&] {
            QMutexLocker lock(&mutex);
            return peak > 0.1f;
        }());
        engine->stop();

        // Unplugged: the default is used, and the log says so.
        Settings::setString(PulseAudioEngine::microphoneKey, "usb-headset-unplugged");
        LogCapture log;
        engine = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(engine.get())->sourceName(), QString("mic"));
        QCOMPARE(
            log.lines().filter("The chosen microphone 'usb-headset-unplugged' is not connected").size(), 1);
    }

    void lossIsToldAtOnceThenTheCaptureEndsOrResumes_data()
    {
        QTest::addColumn<bool>("serverComesBack");
        QTest::addRow("the sound server stays away") << false;
        QTest::addRow("the sound server is back within two seconds") << true;
    }
    void lossIsToldAtOnceThenTheCaptureEndsOrResumes()
    {
        QFETCH(bool, serverComesBack);
        using Interruption = AudioEngine::Interruption;
        PrivatePulseAudio pulse;
        QVERIFY(pulse.start());
        const auto restore = PrivatePulseAudio::pointClientsAt(pulse.server());

        Observed seen;
        PulseAudioEngine engine;
        engine.installTap(1024, [&seen](const AudioBuffer &buffer) {
            QMutexLocker lock(&seen.mutex);
            seen.frames += buffer.frameLength;
        });
        engine.setInterruptionHandler([&seen](Interruption what, const QString &reason) {
            QMutexLocker lock(&seen.mutex);
            seen.events << what;
            seen.at << seen.clock.elapsed();
            seen.reasons << reason;
        });
        QCOMPARE(engine.start(), std::optional<QString>());
        // The monitor of an idle sink still hands over silence, in real time.
        QTRY_VERIFY(seen.framesSoFar() > 4096);

        seen.clock.start();
        pulse.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!seen.eventsSoFar().isEmpty(), 2000);
        QCOMPARE(seen.eventsSoFar().first(), Interruption::lost);
        QVERIFY2(seen.at.value(0) < 1000, qPrintable(QString::number(seen.at.value(0))));
        QVERIFY(seen.reasons.value(0).contains(QStringLiteral("sound server")));

        if (serverComesBack) {
            QVERIFY(pulse.start());
            QTRY_COMPARE_WITH_TIMEOUT(seen.eventsSoFar(),
                (QList<Interruption> { Interruption::lost, Interruption::resumed }), 3000);
            const qint64 before = seen.framesSoFar();
            QTRY_VERIFY(seen.framesSoFar() > before + 4096);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(
                seen.eventsSoFar(), (QList<Interruption> { Interruption::lost, Interruption::ended }), 5000);
            QVERIFY2(seen.at.value(1) >= 1900, qPrintable(QString::number(seen.at.value(1))));
            QCOMPARE(seen.reasons.value(1), seen.reasons.value(0));
        }
        engine.stop();
    }
};

QTEST_GUILESS_MAIN(TestPulseMicrophone)
#include "test_pulse_microphone.moc"
