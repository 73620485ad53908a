#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAudioEngine.h"
#include "fakes/FakeMicrophoneAuthorization.h"
#include "fakes/FakeSpeechRecognizerBackend.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

namespace
{

// A manager on fakes; the cloud path is the real client and capture service,
// on a fake microphone and a server address that refuses every upload.
struct Rig {
    LogCapture log;
    FakeSpeechRecognizerBackend speech;
    FakeMicrophoneAuthorization microphone;
    std::shared_ptr<FakeAudioEngine::Control> onDeviceMicrophone
        = std::make_shared<FakeAudioEngine::Control>();
    std::shared_ptr<FakeAudioEngine::Control> cloudMicrophone = std::make_shared<FakeAudioEngine::Control>();
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    std::unique_ptr<SpeechRecognitionManager> manager;

    SpeechRecognitionManager &make()
    {
        cloudMicrophone->format = { 16000.0, 1 };
        manager = std::make_unique<SpeechRecognitionManager>(speech, microphone,
            FakeAudioEngine::factory(onDeviceMicrophone),
            std::make_unique<SpeechService>(QStringLiteral("http://127.0.0.1:9")),
            std::make_unique<AudioRecordingService>(
                FakeAudioEngine::factory(cloudMicrophone), alerts, workspace));
        return *manager;
    }

    void start() { QCoro::waitFor(manager->startListening()); }
    void stop() { QCoro::waitFor(manager->stopListening()); }
    bool logged(const QString &line) { return log.lines().contains(line); }
    // Both recognition paths' sessions so far.
    int sessions() const { return int(speech.tasks.size()) + cloudMicrophone->starts; }
};

} // namespace

class TestRecognitionManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void providerChoice()
    {
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();

        // Preferring the server: the server path even for US English.
        manager.togglePreferredProvider();
        rig.start();
        QVERIFY(manager.isListening() && rig.cloudMicrophone->running);
        QCOMPARE(manager.activeProvider(), STTProvider::server);
        rig.stop();

        // Back to on-device: a cloud-only language, or one without a recognizer,
        // still goes to the cloud, and the session makes no recognizer for it.
        manager.togglePreferredProvider();
        for (SupportedLanguage::Case language : { SupportedLanguage::albanian, SupportedLanguage::german }) {
            const QString code = SupportedLanguage(language).rawValue();
            manager.setLanguage(language);
            rig.start();
            QCOMPARE(manager.activeProvider(), STTProvider::server);
            QVERIFY(rig.logged("☁️ [Server STT] Starting cloud fallback for language: " + code));
            rig.stop();
        }
        QCOMPARE(rig.speech.recognizersMade.count("sq-AL"), 1); // setLanguage's own
        QVERIFY(rig.speech.tasks.empty());

        // No on-device recognizer at all: the server from the start.
        Rig without;
        without.speech.locales.clear();
        QVERIFY(!without.make().isOnDeviceAvailable());
        QCOMPARE(without.manager->activeProvider(), STTProvider::server);
    }

    void permissions()
    {
        {
            // Speech recognition refused: dictation works in the cloud, now and later.
            Rig rig;
            rig.speech.authorization = SpeechRecognizerAuthorizationStatus::denied;
            SpeechRecognitionManager &manager = rig.make();
            QVERIFY(QCoro::waitFor(manager.requestPermission()));
            QVERIFY(!manager.isOnDeviceAvailable());
            for (int session = 0; session < 2; ++session) {
                rig.start();
                QVERIFY(manager.isListening());
                QCOMPARE(manager.activeProvider(), STTProvider::server);
                rig.stop();
            }
            QVERIFY(rig.speech.tasks.empty());
        }
        {
            // Microphone refused, when asked or before: no session, the
            // message, and the question comes again at every start.
            Rig rig;
            rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
            rig.microphone.grantsOnRequest = false;
            SpeechRecognitionManager &manager = rig.make();
            for (int attempt = 1; attempt <= 2; ++attempt) {
                rig.start();
                QVERIFY(!manager.isListening());
                QCOMPARE(manager.errorMessage(),
                    "Microphone access not authorized. Please enable it in "
                    "your desktop's Sound settings");
                QCOMPARE(rig.microphone.statusQueries, attempt);
            }
            QCOMPARE(rig.sessions(), 0);
            rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
            rig.microphone.grantsOnRequest = true;
            rig.start();
            QVERIFY(manager.isListening() && manager.errorMessage().isNull());
            rig.stop();
            rig.start();
            QCOMPARE(rig.microphone.statusQueries, 3); // granted once is enough
        }
    }

    void onDeviceSession()
    {
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::onDevice);
        QVERIFY(rig.speech.requests.back()->partialResults && rig.speech.requests.back()->onDevice);

        // Each result replaces the text; a final one does not end the session.
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("hello word");
        QTRY_COMPARE(manager.transcribedText(), QString("hello word"));
        task.final("hello world");
        QTRY_COMPARE(manager.transcribedText(), QString("hello world"));

        // "No speech yet" is only a notice; other errors show, the session goes on.
        task.error(1110);
        QTRY_VERIFY(rig.logged("ℹ️ [On-device STT] No speech detected yet - waiting..."));
        QVERIFY(manager.errorMessage().isNull());
        task.error(203, "Retry");
        QTRY_COMPARE(manager.errorMessage(), QString("Retry"));
        task.error(1107, "Other trouble", "NSOSStatusErrorDomain"); // the code counts in its domain only
        QTRY_COMPARE(manager.errorMessage(), QString("Other trouble"));
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::onDevice);

        // Start while listening does nothing.
        rig.start();
        QCOMPARE(rig.sessions(), 1);
        rig.stop();
        QVERIFY(!manager.isListening() && !rig.onDeviceMicrophone->running && !rig.onDeviceMicrophone->tap);
        QVERIFY(rig.speech.requests.back()->ended && task.cancelled);

        // The last words still arrive after a stop; a failure then is only
        // logged (no cloud session); stop while idle does nothing.
        task.final("hello world again");
        task.error(1107);
        QTRY_VERIFY(rig.logged("❌ [On-device STT] Recognition failed (code: 1107), falling back..."));
        QCOMPARE(manager.transcribedText(), QString("hello world again"));
        rig.stop();
        QCOMPARE(rig.onDeviceMicrophone->stops, 1);

        // A new session starts empty; what the old task still says, even a
        // failure, is not its business.
        rig.start();
        QVERIFY(manager.transcribedText().isEmpty() && manager.errorMessage().isNull());
        task.final("stale words");
        task.error(1107);
        rig.speech.lastTask().partial("fresh");
        QTRY_COMPARE(manager.transcribedText(), QString("fresh"));
        QCOMPARE(rig.sessions(), 2);
    }

    void fallbacksToTheCloud()
    {
        // The cloud client's words never reach the transcript while the
        // on-device path runs.
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("on device words");
        QTRY_COMPARE(manager.transcribedText(), QString("on device words"));
        QSignalSpy texts(&manager, &SpeechRecognitionManager::transcribedTextChanged);
        emit manager.serverSpeechService().transcript({ 0, 0, "cloud words", false });
        QTest::qWait(50);
        QVERIFY(texts.isEmpty());

        // The recognizer fails: the cloud takes over, and the on-device words
        // stay until it has something to say (its fresh start says nothing).
        task.error(1107);
        QTRY_VERIFY(manager.isListening() && rig.cloudMicrophone->running);
        QCOMPARE(manager.activeProvider(), STTProvider::server);
        QVERIFY(task.cancelled && !rig.onDeviceMicrophone->running && !rig.onDeviceMicrophone->tap);
        QCOMPARE(manager.transcribedText(), QString("on device words"));
        emit manager.serverSpeechService().transcript({ 0, 0, "from the cloud", false });
        QTRY_COMPARE(manager.transcribedText(), QString("from the cloud"));
        rig.stop();
        QVERIFY(!manager.isListening() && !rig.cloudMicrophone->running);

        // An on-device set-up failing after its tap went in leaves neither the
        // tap nor the task behind, so the next on-device start finds a clean
        // microphone.
        rig.onDeviceMicrophone->startError = QStringLiteral("Device busy");
        rig.start();
        QVERIFY(rig.logged("❌ [On-device STT] Error: Device busy, falling back..."));
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::server);
        QVERIFY(!rig.onDeviceMicrophone->tap && rig.speech.lastTask().cancelled);
        rig.stop();
        rig.onDeviceMicrophone->startError.reset();
        rig.start();
        QCOMPARE(manager.activeProvider(), STTProvider::onDevice);
        rig.onDeviceMicrophone->deliver(1024);
        QCOMPARE(rig.speech.requests[1]->appendedBuffers.load(), 0);
        QCOMPARE(rig.speech.requests[2]->appendedBuffers.load(), 1);
        rig.stop();

        // The cloud path cannot start either: no session, the reason shown.
        rig.cloudMicrophone->hasInputNode = false;
        manager.togglePreferredProvider();
        rig.start();
        QVERIFY(!manager.isListening());
        QCOMPARE(
            manager.errorMessage(), QString("Failed to start server recognition: Audio input not available"));
    }

    void languageChangeRestartsAfterTheStopFinished()
    {
        {
            // Cloud: the stop waits for the final upload's answer before the
            // session starts again, in German.
            Rig rig;
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            manager.serverSpeechService().setBufferInterval(60s); // only the stop uploads
            rig.start();
            for (int buffer = 0; buffer < 8; ++buffer)
                rig.cloudMicrophone->deliver(4000, 0.1f);
            QTRY_VERIFY(manager.serverSpeechService().audioBuffer().size() >= SpeechService::minBufferSize);

            manager.setLanguage(SupportedLanguage::german);
            QTRY_VERIFY(rig.logged("✅ [Server STT] Started with language: de-DE"));
            QVERIFY(manager.isListening());
            const QStringList lines = rig.log.lines();
            const qsizetype failed = lines.indexOf(QRegularExpression("❌ \\[Speech\\] Upload failed: .*"));
            QVERIFY(failed > 0 && failed < lines.indexOf("✅ [Speech] Streaming stopped"));
            QVERIFY(lines.indexOf("✅ [Speech] Streaming stopped")
                < lines.indexOf("☁️ [Server STT] Starting cloud fallback for language: de-DE"));
            rig.stop();
        }
        {
            // On-device: a new task on a recognizer for the new language.
            Rig rig;
            rig.speech.locales["en-GB"] = true;
            SpeechRecognitionManager &manager = rig.make();
            rig.start();
            manager.setLanguage(SupportedLanguage::english_UK);
            QTRY_COMPARE(rig.speech.tasks.size(), size_t(2));
            QTRY_VERIFY(manager.isListening());
            QCOMPARE(rig.speech.lastTask().locale, QString("en-GB"));
            QVERIFY(rig.speech.tasks.front()->cancelled);
        }
        {
            // Two quick changes make one restart in the last language; a stop
            // while a restart is under way keeps the session stopped.
            Rig rig;
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            rig.start();
            manager.setLanguage(SupportedLanguage::german);
            manager.setLanguage(SupportedLanguage::french_FR);
            QTRY_COMPARE(rig.cloudMicrophone->starts, 2);
            QTRY_VERIFY(manager.isListening());
            QCOMPARE(manager.serverSpeechService().selectedLanguage(), QString("fr-FR"));

            manager.setLanguage(SupportedLanguage::italian);
            rig.stop();
            QTest::qWait(100);
            QVERIFY(!manager.isListening() && !rig.cloudMicrophone->running);
            QCOMPARE(rig.cloudMicrophone->starts, 2);
        }
    }

    void microphoneAuthorizationOpensTheDefaultSource()
    {
        // Granted exactly when a default source exists, opens and is usable;
        // it is opened only to look.
        const std::pair<std::function<void(FakeAudioEngine::Control &)>, bool> sources[] = {
            { [](auto &) {}, true },
            { [](auto &source) { source.startError = QStringLiteral("Access denied"); }, false },
            { [](auto &source) { source.format.sampleRate = 0; }, false },
            { [](auto &source) { source.hasInputNode = false; }, false },
        };
        for (const auto &[prepare, granted] : sources) {
            auto source = std::make_shared<FakeAudioEngine::Control>();
            prepare(*source);
            PulseMicrophoneAuthorization authorization(FakeAudioEngine::factory(source));
            QCOMPARE(QCoro::waitFor(authorization.requestAccess()), granted);
            QVERIFY(!source->running);
        }
        if (qEnvironmentVariableIsSet("TELLWIND_HARNESS")) // its sound server has a default source
            QCOMPARE(QCoro::waitFor(
                         PulseMicrophoneAuthorization(PulseAudioEngine::factory()).authorizationStatus()),
                MicrophoneAuthorizationStatus::authorized);
    }

    void microphoneLostUnderASession_data()
    {
        QTest::addColumn<bool>("cloud");
        QTest::addColumn<bool>("comesBack");
        QTest::addRow("on-device, gone for good") << false << false;
        QTest::addRow("on-device, back in time") << false << true;
        QTest::addRow("cloud, gone for good") << true << false;
        QTest::addRow("cloud, back in time") << true << true;
    }
    void microphoneLostUnderASession()
    {
        QFETCH(bool, cloud);
        QFETCH(bool, comesBack);
        using Interruption = AudioEngine::Interruption;
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        if (cloud)
            manager.togglePreferredProvider();
        rig.start();
        QVERIFY(manager.isListening());
        const std::shared_ptr<FakeAudioEngine::Control> microphone
            = cloud ? rig.cloudMicrophone : rig.onDeviceMicrophone;
        const QString reason
            = QStringLiteral("The connection to the sound server was lost (Connection terminated).");

        // Told at once, while the session waits for the microphone to come back.
        QVERIFY(microphone->interrupt(Interruption::lost, reason));
        QTRY_COMPARE(manager.errorMessage(), reason);
        QVERIFY(manager.isListening());

        if (comesBack) {
            QVERIFY(microphone->interrupt(Interruption::resumed, QString()));
            QTRY_VERIFY(rig.logged(QStringLiteral("✅ [STT] The microphone is back, listening on")));
            QVERIFY(manager.isListening() && microphone->running);
            rig.stop();
            return;
        }
        QVERIFY(microphone->interrupt(Interruption::ended, reason));
        QTRY_VERIFY(!manager.isListening());
        QVERIFY(!microphone->running);
        if (!cloud) {
            // The recognizer finishes what it was given: the last words still arrive.
            QVERIFY(rig.speech.requests.back()->ended);
            rig.speech.lastTask().final(QStringLiteral("what was said before"));
            QTRY_COMPARE(manager.transcribedText(), QStringLiteral("what was said before"));
        }
        QCOMPARE(manager.errorMessage(), reason);
    }
};

QTEST_GUILESS_MAIN(TestRecognitionManager)
#include "test_recognition_manager.moc"
