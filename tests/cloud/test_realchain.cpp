// The whole cloud path with nothing faked: synthesized speech played into the
// harness's virtual microphone, captured from PulseAudio, converted, uploaded
// to a real tellwind-server and decoded by PocketSphinx.
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechService.h"
#include "support/ServerProcess.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

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
        const QByteArray first = spokenPcm(QStringLiteral("hello world"));
        const QByteArray second = spokenPcm(QStringLiteral("this is a test of the dictation system"));
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        const auto silence = [](qsizetype bytes) { return QByteArray(bytes & ~1, '\0'); };
        QTemporaryDir dir;
        QFile pcm(dir.filePath(QStringLiteral("dictation.raw")));
        QVERIFY(pcm.open(QIODevice::WriteOnly));
        pcm.write(
            silence(9600) + first + silence(qsizetype(5.2 * 32000) - first.size()) + second + silence(16000));
        pcm.close();

        SpeechService speech(server.baseUrl());
        speech.setBufferInterval(5s);
        speech.setLanguage(QStringLiteral("en-US"));
        QSignalSpy uploads(&speech, &SpeechService::uploadFinished);
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService capture(PulseAudioEngine::factory(), alerts, workspace);

        // As the recognition manager wires them: capture first, then the stream.
        const auto error = QCoro::waitFor(capture.startRecording([&speech](QByteArray chunk) {
            QMetaObject::invokeMethod(&speech, [&speech, chunk] { speech.audioBuffer().append(chunk); });
        }));
        QVERIFY2(!error, error ? qPrintable(error->errorDescription()) : "");
        QCoro::waitFor(speech.startStreaming());

        // A short latency keeps the virtual microphone close behind the player.
        QProcess player;
        player.start(QStringLiteral("paplay"),
            QStringLiteral("--raw --format=s16le --rate=16000 --channels=1 "
                           "--latency-msec=30 -d spk %1")
                .arg(pcm.fileName())
                .split(u' '));
        QVERIFY(player.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 20000);
        QCOMPARE(player.exitCode(), 0);
        QTest::qWait(500);

        QCoro::waitFor(capture.stopRecording());
        QCoro::waitFor(speech.stopStreaming());
        QTRY_COMPARE_WITH_TIMEOUT(speech.transcribedText(),
            QStringLiteral("hello world this is a test of the dictation system"), 20000);
        QVERIFY(uploads.count() >= 2);
        QVERIFY(speech.errorMessage().isNull());
        QVERIFY(alerts.shown.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRealChain)
#include "test_realchain.moc"
