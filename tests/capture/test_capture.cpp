#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAudioEngine.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "support/PrivatePulseAudio.h"

#include <QStandardPaths>
#include <QTest>

#include <cmath>

namespace
{

// Root mean square of `count` samples of 16-bit PCM from sample `from` on.
double level(const QByteArray &pcm, qsizetype from, qsizetype count)
{
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    double sum = 0;
    for (qsizetype i = from; i < from + count && i < pcm.size() / 2; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(count));
}

struct Rig {
    explicit Rig(AudioEngineFactory factory = {})
        : service(factory ? factory : FakeAudioEngine::factory(engine), alerts, workspace)
    {
    }
    std::optional<AudioError> start()
    {
        return QCoro::waitFor(service.startRecording([this](QByteArray chunk) {
            QMutexLocker lock(&mutex);
            chunks.append(chunk);
        }));
    }
    // Everything the consumer got, once the capture has stopped.
    QByteArray stop()
    {
        QCoro::waitFor(service.stopRecording());
        return taken().join();
    }
    // What the service handed its consumer so far (on the service's worker thread).
    QList<QByteArray> taken()
    {
        QMutexLocker lock(&mutex);
        return chunks;
    }

    std::shared_ptr<FakeAudioEngine::Control> engine = std::make_shared<FakeAudioEngine::Control>();
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    AudioRecordingService service;
    QMutex mutex;
    QList<QByteArray> chunks;
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void convertsInOrderWithoutLosingAudio()
    {
        Rig rig;
        QVERIFY(!rig.start());
        const QSet<int> loud { 3, 4, 11, 17 };
        const int buffers = 60;
        for (int i = 0; i < buffers; ++i)
            rig.engine->deliver(4096, loud.contains(i) ? 1.5f : 0.1f);
        QTRY_VERIFY(rig.taken().size() >= buffers - 1);

        // The stop hands over what the resampler still holds: the output lasts exactly as long as the input.
        const QByteArray pcm = rig.stop();
        QVERIFY(qAbs(pcm.size() / 2 - qRound(buffers * 4096 / 3.0)) <= 1);
        // Each buffer comes out at its place, at its level; beyond full scale clipped, not wrapped round.
        for (int i = 0; i < buffers; ++i) {
            const double expected = loud.contains(i) ? 32767 : 0.1 * 32767;
            const double measured = level(pcm, qsizetype(i * 4096 / 3.0 + 200), 900);
            QVERIFY2(
                qAbs(measured - expected) < expected * 0.02, qPrintable(QStringLiteral("buffer %1").arg(i)));
        }

        // Stereo at 44.1 kHz, a short last buffer: both channels at a quarter make a quarter, not a half.
        Rig stereo;
        stereo.engine->format = { 44100.0, 2 };
        QVERIFY(!stereo.start());
        for (int i = 0; i < 20; ++i)
            stereo.engine->deliver(4096);
        stereo.engine->deliver(1000);
        const QByteArray mono = stereo.stop();
        QVERIFY2(std::abs(mono.size() / 2 - (20 * 4096 + 1000) * 16000 / 44100.0) <= 1,
            qPrintable(QString::number(mono.size() / 2)));
        QVERIFY2(qAbs(level(mono, 2000, 20000) - 0.25 * 32767) < 0.25 * 32767 * 0.02,
            qPrintable(QString::number(level(mono, 2000, 20000))));
    }

    void failsQuicklyWithoutASoundServer()
    {
        const auto restore = PrivatePulseAudio::pointClientsAt("unix:/nonexistent/tellwind-test/native");
        Rig rig(PulseAudioEngine::factory());
        QCOMPARE(rig.start(), AudioError(AudioError::Code::inputNodeNotAvailable));
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
