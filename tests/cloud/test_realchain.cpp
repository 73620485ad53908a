// The whole cloud path with nothing faked: synthesized speech played into the
// harness's virtual microphone, captured from PulseAudio, converted, uploaded
// to a real tellwind-server and decoded by PocketSphinx.
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "server/ServerProcess.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechService.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

using namespace std::chrono_literals;

namespace {

QByteArray silence(double seconds)
{
    return QByteArray(qsizetype(seconds * 16000) * 2, '\0');
}

bool writeWav(const QString &path, const QByteArray &pcm)
{
    QByteArray header("RIFF....WAVEfmt ");
    const auto put32 = [&header](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        header.append(bytes, 4);
    };
    const auto put16 = [&header](quint16 value) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        header.append(bytes, 2);
    };
    put32(16);
    put16(1);     // PCM
    put16(1);     // mono
    put32(16000); // rate
    put32(32000); // bytes per second
    put16(2);
    put16(16);
    header.append("data");
    put32(quint32(pcm.size()));
    qToLittleEndian(quint32(header.size() - 8 + pcm.size()), header.data() + 4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(header + pcm) == header.size() + pcm.size();
}

template <typename T>
T finish(QCoro::Task<T> task)
{
    std::optional<T> result;
    [](QCoro::Task<T> task, std::optional<T> &result) -> QCoro::Task<> { result = co_await task; }(std::move(task), result);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000); }();
    return result.value_or(T {});
}

void finish(QCoro::Task<> task)
{
    bool done = false;
    [](QCoro::Task<> task, bool &done) -> QCoro::Task<> {
        co_await task;
        done = true;
    }(std::move(task), done);
    QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
}

} // namespace

class TestRealChain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (qEnvironmentVariableIsEmpty("TELLWIND_HARNESS"))
            QSKIP("needs the harness's PulseAudio");
    }

    void dictationReachesTheServerAndComesBack()
    {
        ServerProcess server;
        QVERIFY(server.start());

        // Two phrases, the pause between them where the first upload cuts.
        const QByteArray first = synthesizedSpeech(QStringLiteral("hello world"));
        const QByteArray second = synthesizedSpeech(QStringLiteral("this is a test of the dictation system"));
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        const QByteArray pcm = silence(0.3) + first + silence(5.5 - 0.3 - first.size() / 32000.0) + second + silence(0.5);
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("dictation.wav"));
        QVERIFY(writeWav(wav, pcm));

        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService capture(PulseAudioEngine::factory(), alerts, workspace);
        SpeechService speech(server.baseUrl());
        speech.setBufferInterval(5s);
        speech.setLanguage(QStringLiteral("en-US"));
        QSignalSpy uploads(&speech, &SpeechService::uploadFinished);

        // As the recognition manager wires them: capture first, then the stream.
        QPointer<SpeechService> target(&speech);
        const auto error = finish(capture.startRecording([target](QByteArray chunk) {
            QMetaObject::invokeMethod(target, [target, chunk] {
                if (target)
                    target->audioBuffer().append(chunk);
            }, Qt::QueuedConnection);
        }));
        QVERIFY2(!error, error ? qPrintable(error->errorDescription()) : "");
        finish(speech.startStreaming());

        QProcess player;
        // A short latency keeps the virtual microphone close behind the player.
        player.start(QStringLiteral("paplay"), { QStringLiteral("--latency-msec=30"), QStringLiteral("-d"),
                                                 QStringLiteral("spk"), wav });
        QVERIFY(player.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 20000);
        QCOMPARE(player.exitCode(), 0);
        QTest::qWait(500);

        finish(capture.stopRecording());
        finish(speech.stopStreaming());
        QTRY_COMPARE_WITH_TIMEOUT(speech.transcribedText(), QStringLiteral("hello world this is a test of the dictation system"),
                                  20000);
        QVERIFY(uploads.count() >= 2);
        QVERIFY(speech.errorMessage().isNull());
        QVERIFY(alerts.shown.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRealChain)
#include "test_realchain.moc"
