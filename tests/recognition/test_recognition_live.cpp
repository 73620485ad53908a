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

#include <QProcess>
#include <QStandardPaths>
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
        m_speech = std::make_unique<PocketSphinxSpeechBackend>();
        m_microphone = std::make_unique<PulseMicrophoneAuthorization>(PulseAudioEngine::factory());
        auto cloud = std::make_unique<SpeechService>(QStringLiteral("http://127.0.0.1:9"));
        auto capture = std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), m_alerts, m_workspace);
        m_manager = std::make_unique<SpeechRecognitionManager>(*m_speech, *m_microphone, PulseAudioEngine::factory(),
                                                               std::move(cloud), std::move(capture));
        QVERIFY(m_manager->isAppleSTTAvailable());
    }

    void spokenSentenceBecomesTheTranscript()
    {
        const QString wav = m_folder.filePath("coffee.wav");
        QVERIFY(Speech::writeWav(wav, Speech::join({ Speech::silence(0.3), Speech::say("i would like a cup of coffee", m_folder.path()),
                                                     Speech::silence(0.3) })));
        QCoro::waitFor(m_manager->startListening());
        QVERIFY(m_manager->isListening());
        QCOMPARE(m_manager->activeProvider(), STTProvider::apple);
        play(wav);
        QCoro::waitFor(m_manager->stopListening());
        QTRY_COMPARE_WITH_TIMEOUT(m_manager->transcribedText(), QString("i would like a cup of coffee"), 10000);
        QVERIFY(m_manager->errorMessage().isNull());
    }

    void twoUtterancesStayInOrder()
    {
        LogCapture log;
        const QString wav = m_folder.filePath("two.wav");
        QVERIFY(Speech::writeWav(wav, Speech::join({ Speech::silence(0.3), Speech::say("good morning everyone", m_folder.path()),
                                                     Speech::silence(1.5),
                                                     Speech::say("we will meet again tomorrow", m_folder.path()),
                                                     Speech::silence(0.3) })));
        QCoro::waitFor(m_manager->startListening());
        QVERIFY(m_manager->transcribedText().isEmpty());
        play(wav);
        // The pause ended the first utterance while the session listened on.
        QVERIFY(log.lines().contains("📝 [Apple STT] Final: good morning everyone"));
        QVERIFY(m_manager->isListening());
        QCoro::waitFor(m_manager->stopListening());
        QTRY_COMPARE_WITH_TIMEOUT(m_manager->transcribedText(),
                                  QString("good morning everyone we will meet again tomorrow"), 10000);
        QTRY_VERIFY(log.lines().contains("ℹ️ [Apple STT] Canceled (code: 216)"));
    }

private:
    // Plays a file into the virtual microphone in real time; the manager's
    // results keep arriving meanwhile.
    void play(const QString &wav)
    {
        QProcess player;
        player.start(QStringLiteral("paplay"), { QStringLiteral("-d"), QStringLiteral("spk"), wav });
        QVERIFY(player.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 30000);
        QCOMPARE(player.exitCode(), 0);
    }

    QTemporaryDir m_folder;
    FakeAlertPresenter m_alerts;
    FakeWorkspace m_workspace;
    std::unique_ptr<PocketSphinxSpeechBackend> m_speech;
    std::unique_ptr<PulseMicrophoneAuthorization> m_microphone;
    std::unique_ptr<SpeechRecognitionManager> m_manager;
};

QTEST_GUILESS_MAIN(TestRecognitionLive)
#include "test_recognition_live.moc"
