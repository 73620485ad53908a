#include "Speech.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/PocketSphinxModel.h"
#include "speech/PocketSphinxSpeechBackend.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

// The whole on-device chain: speech played into the harness's virtual
// microphone, captured from PulseAudio, decoded by PocketSphinx, published by
// the manager.
class TestRecognitionLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (!qEnvironmentVariableIsSet("TELLWIND_HARNESS"))
            QSKIP("needs the harness's sound server (tests/harness.sh)");
        if (!Speech::haveTools() || !PocketSphinxModel::debianUsEnglish())
            QSKIP("flite and the US English model are needed");
        QVERIFY(m_folder.isValid());
    }

    void spokenUtterancesBecomeOneTranscript()
    {
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        PocketSphinxSpeechBackend speech;
        PulseMicrophoneAuthorization microphone(PulseAudioEngine::factory());
        SpeechRecognitionManager manager(
            speech, microphone, PulseAudioEngine::factory(),
            std::make_unique<SpeechService>(QStringLiteral("http://127.0.0.1:9")),
            std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), alerts, workspace));
        QVERIFY(manager.isAppleSTTAvailable());

        // Two utterances: the pause ends the first while the session listens
        // on, and the second grows the transcript behind it.
        LogCapture log;
        QCoro::waitFor(manager.startListening());
        QCOMPARE(manager.activeProvider(), STTProvider::apple);
        QSignalSpy texts(&manager, &SpeechRecognitionManager::transcribedTextChanged);
        play({ Speech::silence(0.3), Speech::say("good morning everyone", m_folder.path()), Speech::silence(1.5),
               Speech::say("we will meet again tomorrow", m_folder.path()), Speech::silence(0.3) });
        QVERIFY(log.lines().contains("📝 [Apple STT] Final: good morning everyone"));
        QVERIFY(manager.isListening());
        QCoro::waitFor(manager.stopListening());
        QTRY_COMPARE_WITH_TIMEOUT(manager.transcribedText(),
                                  QString("good morning everyone we will meet again tomorrow"), 10000);
        bool firstDone = false;
        for (const QList<QVariant> &text : std::as_const(texts)) {
            QVERIFY2(!firstDone || text.first().toString().startsWith("good morning everyone"),
                     qPrintable(text.first().toString()));
            firstDone = firstDone || text.first().toString() == "good morning everyone";
        }
        QVERIFY(firstDone);
        QVERIFY(manager.errorMessage().isNull());
    }

private:
    // Plays speech into the virtual microphone in real time; the manager's
    // results keep arriving meanwhile.
    void play(const QList<QByteArray> &parts)
    {
        QFile raw(m_folder.filePath("play.raw"));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        for (const QByteArray &part : parts)
            raw.write(part);
        raw.close();
        QProcess player;
        player.start("paplay", { "-d", "spk", "--raw", "--format=s16le", "--rate=16000", "--channels=1",
                                 raw.fileName() });
        QVERIFY(player.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 30000);
        QCOMPARE(player.exitCode(), 0);
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestRecognitionLive)
#include "test_recognition_live.moc"
