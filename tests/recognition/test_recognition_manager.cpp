#include "ScriptedSpeechServer.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAudioEngine.h"
#include "fakes/FakeMicrophoneAuthorization.h"
#include "fakes/FakeSpeechRecognizerBackend.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrlQuery>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

namespace {

// Everything a manager talks to, faked; the cloud client is the real one,
// talking to a scripted server, and the capture service is the real one on a
// fake microphone.
struct Rig {
    FakeSpeechRecognizerBackend speech;
    FakeMicrophoneAuthorization microphone;
    std::shared_ptr<FakeAudioEngine::Control> onDeviceMicrophone = std::make_shared<FakeAudioEngine::Control>();
    std::shared_ptr<FakeAudioEngine::Control> cloudMicrophone = std::make_shared<FakeAudioEngine::Control>();
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    ScriptedSpeechServer server;
    std::unique_ptr<SpeechRecognitionManager> manager;

    Rig() { cloudMicrophone->format = { 16000.0, 1 }; }

    SpeechRecognitionManager &make()
    {
        auto cloud = std::make_unique<SpeechService>(server.baseUrl(), 5000ms);
        cloud->setBufferInterval(50ms);
        auto capture = std::make_unique<AudioRecordingService>(FakeAudioEngine::factory(cloudMicrophone), alerts,
                                                               workspace);
        manager = std::make_unique<SpeechRecognitionManager>(speech, microphone,
                                                             FakeAudioEngine::factory(onDeviceMicrophone),
                                                             std::move(cloud), std::move(capture));
        return *manager;
    }

    void start() { QCoro::waitFor(manager->startListening()); }
    void stop() { QCoro::waitFor(manager->stopListening()); }

    // Speaks into the cloud path's microphone: two seconds, enough for one upload.
    void speakToCloud()
    {
        for (int buffer = 0; buffer < 8; ++buffer)
            QVERIFY(cloudMicrophone->deliver(4000, 0.1f));
    }
};

} // namespace

class TestRecognitionManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void probeAndProviderChoice()
    {
        {
            LogCapture log;
            Rig rig;
            SpeechRecognitionManager &manager = rig.make();
            QVERIFY(manager.isAppleSTTAvailable());
            QCOMPARE(manager.activeProvider(), STTProvider::apple);
            QCOMPARE(manager.preferredProvider(), STTProvider::apple);
            QCOMPARE(manager.selectedLanguage(), SupportedLanguage(SupportedLanguage::english_US));
            QVERIFY(manager.isGoogleSTTAvailable());
            QCOMPARE(log.lines().mid(0, 2), QStringList({ QStringLiteral("✅ [STT] Apple Speech Recognition is available"),
                                                          QStringLiteral("🎯 [STT] Active provider: Apple") }));
            // The probe's recognizer is not kept for the sessions.
            QCOMPARE(rig.speech.recognizersMade, QStringList { "en-US" });

            // Preference Google: the cloud path even for US English.
            manager.togglePreferredProvider();
            rig.start();
            QVERIFY(manager.isListening());
            QCOMPARE(manager.activeProvider(), STTProvider::google);
            QVERIFY(rig.speech.tasks.empty());
            QVERIFY(rig.cloudMicrophone->running);
            QVERIFY(log.lines().contains("🎯 [STT] Using Google (user preference)"));
            QVERIFY(log.lines().contains("🎙️ [STT] Starting with ☁️ Google"));
            QVERIFY(log.lines().contains("☁️ [Google STT] Starting cloud fallback for language: en-US"));
            QVERIFY(log.lines().contains("✅ [Google STT] Started with language: en-US"));
            rig.stop();
            QVERIFY(!manager.isListening());
            QVERIFY(!rig.cloudMicrophone->running);

            // Back to Apple: a cloud-only language still goes to the cloud,
            // without a recognizer ever being made for it.
            manager.togglePreferredProvider();
            QCOMPARE(manager.preferredProvider(), STTProvider::apple);
            QCOMPARE(log.linesStartingWith("🔄 [STT] Preferred provider toggled to:"),
                     QStringList({ "🔄 [STT] Preferred provider toggled to: Google",
                                   "🔄 [STT] Preferred provider toggled to: Apple" }));
            manager.setLanguage(SupportedLanguage::albanian);
            rig.start();
            QCOMPARE(manager.activeProvider(), STTProvider::google);
            // (setLanguage made the only one)
            QCOMPARE(rig.speech.recognizersMade.count("sq-AL"), 1);
            QVERIFY(log.lines().contains("🎯 [STT] Using Google for Albanian (Apple not available)"));
            QVERIFY(log.lines().contains("☁️ [Google STT] Starting cloud fallback for language: sq-AL"));
            rig.stop();

            manager.setLanguage(SupportedLanguage::german);
            QVERIFY(log.lines().contains("🌐 [STT] Language set to: German (de-DE)"));
            rig.start(); // no recognizer for de-DE
            QCOMPARE(manager.activeProvider(), STTProvider::google);
            QVERIFY(log.lines().contains("🎯 [STT] Using Google for German (Apple not available)"));
            rig.stop();
        }
        {
            LogCapture log;
            Rig rig;
            rig.speech.locales.clear();
            SpeechRecognitionManager &manager = rig.make();
            QVERIFY(!manager.isAppleSTTAvailable());
            QCOMPARE(manager.activeProvider(), STTProvider::google);
            QCOMPARE(log.lines().mid(0, 3), QStringList({ "⚠️ [STT] Apple Speech Recognition not available",
                                                          "☁️ [STT] Falling back to Google STT",
                                                          "🎯 [STT] Active provider: Google" }));
        }
    }

    void permissions()
    {
        {
            // Speech recognition refused, microphone granted: dictation works,
            // in the cloud, now and later.
            LogCapture log;
            Rig rig;
            rig.speech.authorization = SpeechRecognizerAuthorizationStatus::denied;
            SpeechRecognitionManager &manager = rig.make();
            QVERIFY(QCoro::waitFor(manager.requestPermission()));
            QVERIFY(!manager.isAppleSTTAvailable());
            QVERIFY(manager.errorMessage().isNull());
            QVERIFY(log.lines().contains("🔐 [STT] Speech recognition authorization: 1"));
            QVERIFY(log.lines().contains("⚠️ [STT] Apple Speech not authorized, will use Google fallback"));
            for (int session = 0; session < 2; ++session) {
                rig.start();
                QVERIFY(manager.isListening());
                QCOMPARE(manager.activeProvider(), STTProvider::google);
                rig.stop();
            }
            QVERIFY(rig.speech.tasks.empty());
            QCOMPARE(rig.onDeviceMicrophone->enginesMade, 0);
        }
        {
            // Microphone refused: no session, the message, and the question
            // comes again at the next start.
            Rig rig;
            rig.microphone.status = MicrophoneAuthorizationStatus::denied;
            SpeechRecognitionManager &manager = rig.make();
            QSignalSpy listening(&manager, &SpeechRecognitionManager::isListeningChanged);
            rig.start();
            QVERIFY(!manager.isListening());
            QCOMPARE(manager.errorMessage(), SpeechRecognitionManager::microphoneNotAuthorizedMessage);
            QCOMPARE(manager.errorMessage(),
                     "Microphone access not authorized. Please enable in System Settings > Privacy & Security > "
                     "Microphone");
            QCOMPARE(rig.onDeviceMicrophone->enginesMade, 0);
            QCOMPARE(rig.cloudMicrophone->enginesMade, 0);
            QCOMPARE(rig.microphone.statusQueries, 1);

            rig.start();
            QCOMPARE(rig.microphone.statusQueries, 2);
            QVERIFY(!manager.isListening());

            rig.microphone.status = MicrophoneAuthorizationStatus::authorized;
            rig.start();
            QVERIFY(manager.isListening());
            QVERIFY(manager.errorMessage().isNull());
            QCOMPARE(listening.count(), 1);
            rig.stop();
            rig.start();
            QCOMPARE(rig.microphone.statusQueries, 3); // granted once is enough
            rig.stop();
        }
        {
            // Not asked yet: the request decides.
            Rig rig;
            rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
            rig.microphone.grantsOnRequest = false;
            SpeechRecognitionManager &manager = rig.make();
            QVERIFY(!QCoro::waitFor(manager.requestPermission()));
            QCOMPARE(manager.errorMessage(), SpeechRecognitionManager::microphoneNotAuthorizedMessage);
            rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
            rig.microphone.grantsOnRequest = true;
            QVERIFY(QCoro::waitFor(manager.requestPermission()));
            QVERIFY(manager.hasPermission());
            QCOMPARE(rig.microphone.accessRequests, 2);
        }
    }

    void onDeviceSession()
    {
        LogCapture log;
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        QVERIFY(manager.isListening());
        QCOMPARE(manager.activeProvider(), STTProvider::apple);
        QCOMPARE(rig.speech.tasks.size(), size_t(1));
        QVERIFY(rig.speech.lastRequest().partialResults);
        QVERIFY(rig.speech.lastRequest().onDevice);
        QVERIFY(log.lines().contains("🎯 [STT] Using Apple for English (US)"));
        QVERIFY(log.lines().contains("🎙️ [STT] Starting with 🍎 Apple"));
        QVERIFY(log.lines().contains("✅ [Apple STT] Using on-device recognition"));
        QVERIFY(log.lines().contains("✅ [Apple STT] Started listening"));

        // The microphone feeds the request through a 1024-frame tap.
        QCOMPARE(rig.onDeviceMicrophone->tapBufferFrames, 1024u);
        QVERIFY(rig.onDeviceMicrophone->running);
        rig.onDeviceMicrophone->deliver(1024);
        rig.onDeviceMicrophone->deliver(1024);
        QCOMPARE(rig.speech.lastRequest().appendedBuffers.load(), 2);

        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("hello");
        QTRY_COMPARE(manager.transcribedText(), QString("hello"));
        task.partial("hello word");
        task.final("hello world");
        QTRY_COMPARE(manager.transcribedText(), QString("hello world"));
        QVERIFY(log.lines().contains("📝 [Apple STT] ...: hello word"));
        QVERIFY(log.lines().contains("📝 [Apple STT] Final: hello world"));
        QVERIFY(manager.isListening()); // a final result does not end the session

        // No speech yet: only a notice; other errors: a message, session on.
        task.error(1110);
        QTRY_VERIFY(log.lines().contains("ℹ️ [Apple STT] No speech detected yet - waiting..."));
        QVERIFY(manager.errorMessage().isNull());
        task.error(203, "Retry");
        QTRY_COMPARE(manager.errorMessage(), QString("Retry"));
        QVERIFY(log.lines().contains("❌ [Apple STT] Error: Retry (code: 203)"));
        task.error(4, "Other trouble", "NSOSStatusErrorDomain");
        QTRY_COMPARE(manager.errorMessage(), QString("Other trouble"));
        QVERIFY(log.lines().contains("❌ [Apple STT] Error: Other trouble"));
        QVERIFY(manager.isListening());

        // The cloud client's words never reach the transcript meanwhile.
        manager.googleSpeechService().setTranscribedText("cloud words");
        task.partial("hello world again");
        QTRY_COMPARE(manager.transcribedText(), QString("hello world again"));
        QCoreApplication::processEvents();
        QCOMPARE(manager.transcribedText(), QString("hello world again"));

        // Start while listening does nothing.
        rig.start();
        QCOMPARE(rig.speech.tasks.size(), size_t(1));
        QCOMPARE(rig.onDeviceMicrophone->enginesMade, 1);

        rig.stop();
        QVERIFY(!manager.isListening());
        QVERIFY(!rig.onDeviceMicrophone->running);
        QVERIFY(!rig.onDeviceMicrophone->tap);
        QVERIFY(rig.speech.lastRequest().ended);
        QVERIFY(task.cancelled);
        QCOMPARE(manager.transcribedText(), QString("hello world again"));
        QVERIFY(log.lines().contains("⏹️ [STT] Stopping Apple"));

        // The last words and the cancellation still arrive after a stop.
        task.final("hello world again and again");
        task.error(216);
        QTRY_VERIFY(log.lines().contains("ℹ️ [Apple STT] Canceled (code: 216)"));
        QCOMPARE(manager.transcribedText(), QString("hello world again and again"));

        // Stop while idle does nothing.
        const int stops = rig.onDeviceMicrophone->stops;
        rig.stop();
        QCOMPARE(log.linesStartingWith("⏹️ [STT] Stopping").size(), 1);
        QCOMPARE(rig.onDeviceMicrophone->stops, stops);

        // A new session starts empty, and what the old task still says is
        // not its business.
        rig.start();
        QVERIFY(manager.transcribedText().isEmpty());
        QVERIFY(manager.errorMessage().isNull());
        FakeSpeechRecognitionTask &next = rig.speech.lastTask();
        QVERIFY(&next != &task);
        task.final("stale words");
        task.error(1107);
        next.partial("fresh");
        QTRY_COMPARE(manager.transcribedText(), QString("fresh"));
        QVERIFY(manager.isListening());
        QCOMPARE(manager.activeProvider(), STTProvider::apple);
        rig.stop();
    }

    void recognitionFailureSwitchesToTheCloud()
    {
        LogCapture log;
        Rig rig;
        rig.server.replies << ScriptedSpeechServer::transcript("from the cloud");
        SpeechRecognitionManager &manager = rig.make();
        QSignalSpy listening(&manager, &SpeechRecognitionManager::isListeningChanged);
        rig.start();
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("on device words");
        QTRY_COMPARE(manager.transcribedText(), QString("on device words"));

        task.error(1107);
        QTRY_COMPARE(manager.activeProvider(), STTProvider::google);
        QTRY_VERIFY(manager.isListening() && rig.cloudMicrophone->running);
        QCOMPARE(listening.count(), 3); // true, false, true
        QVERIFY(log.lines().contains("❌ [Apple STT] Recognition failed (code: 1107), falling back..."));
        QVERIFY(task.cancelled);
        QVERIFY(!rig.onDeviceMicrophone->running);
        QVERIFY(!rig.onDeviceMicrophone->tap);

        // The on-device words stay until the cloud has something to say.
        QCOMPARE(manager.transcribedText(), QString("on device words"));
        rig.speakToCloud();
        QTRY_COMPARE(manager.transcribedText(), QString("from the cloud"));
        QCOMPARE(rig.server.requests.size(), 1);
        QCOMPARE(QUrlQuery(rig.server.requests.first()).queryItemValue("languageCode"), QString("en-US"));

        // Cloud errors are forwarded while the cloud path runs.
        rig.stop();
        QVERIFY(!manager.isListening());
        QVERIFY(log.lines().contains("⏹️ [STT] Stopping Google"));
        QCOMPARE(manager.transcribedText(), QString("from the cloud"));
    }

    void failureAfterStopDoesNotReopenTheMicrophone()
    {
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        rig.stop();
        task.error(1107);
        QTest::qWait(50);
        QVERIFY(!manager.isListening());
        QCOMPARE(rig.cloudMicrophone->enginesMade, 0);
    }

    void failedSetUpLeavesNothingBehind()
    {
        LogCapture log;
        Rig rig;
        rig.onDeviceMicrophone->startError = QStringLiteral("Device busy");
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        QVERIFY(log.lines().contains("❌ [Apple STT] Error: Device busy, falling back..."));
        QCOMPARE(manager.activeProvider(), STTProvider::google);
        QVERIFY(manager.isListening());
        // The tap and the task of the failed set-up are gone.
        QVERIFY(!rig.onDeviceMicrophone->tap);
        QCOMPARE(rig.speech.tasks.size(), size_t(1));
        QVERIFY(rig.speech.lastTask().cancelled);
        rig.stop();

        // The next on-device start finds a clean microphone and runs.
        rig.onDeviceMicrophone->startError.reset();
        rig.start();
        QCOMPARE(manager.activeProvider(), STTProvider::apple);
        QVERIFY(rig.onDeviceMicrophone->running);
        rig.onDeviceMicrophone->deliver(1024);
        QCOMPARE(rig.speech.requests.front()->appendedBuffers.load(), 0);
        QCOMPARE(rig.speech.lastRequest().appendedBuffers.load(), 1);
        rig.stop();

        // No request: the set-up fails with the manager's own error.
        rig.speech.failRequests = true;
        rig.start();
        QVERIFY(log.lines().contains("❌ [Apple STT] Error: Unable to create recognition request, falling back..."));
        QCOMPARE(manager.activeProvider(), STTProvider::google);
        QVERIFY(!rig.onDeviceMicrophone->tap);
        rig.stop();

        // A recognizer that exists but is not available.
        rig.speech.failRequests = false;
        rig.speech.locales["en-GB"] = false;
        rig.speech.locales["en-US"] = false;
        manager.setLanguage(SupportedLanguage::english_UK);
        rig.start();
        QVERIFY(log.lines().contains("🎯 [STT] Using Google for English (UK) (Apple not available)"));
        rig.stop();
    }

    void cloudStartFailure()
    {
        Rig rig;
        rig.cloudMicrophone->hasInputNode = false;
        SpeechRecognitionManager &manager = rig.make();
        manager.togglePreferredProvider();
        rig.start();
        QVERIFY(!manager.isListening());
        QCOMPARE(manager.activeProvider(), STTProvider::google);
        QCOMPARE(manager.errorMessage(), QString("Failed to start Google STT: Audio input not available"));
    }

    void languageChangeRestartsAfterTheStopFinished()
    {
        {
            // Cloud: the stop waits for the final upload's reply before the
            // session starts again, in German.
            LogCapture log;
            Rig rig;
            rig.server.replyDelayMs = 300;
            rig.server.replies << ScriptedSpeechServer::transcript("last english words");
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            manager.googleSpeechService().setBufferInterval(60s); // only the stop uploads
            rig.start();
            QVERIFY(manager.isListening());
            rig.speakToCloud();
            QTRY_VERIFY(manager.googleSpeechService().audioBuffer().size() >= SpeechService::minBufferSize);

            manager.setLanguage(SupportedLanguage::german);
            QCOMPARE(manager.selectedLanguage(), SupportedLanguage(SupportedLanguage::german));
            QTRY_VERIFY(log.lines().contains("✅ [Google STT] Started with language: de-DE"));
            QVERIFY(manager.isListening());
            QCOMPARE(manager.googleSpeechService().selectedLanguage(), QString("de-DE"));
            const QStringList lines = log.lines();
            QVERIFY(lines.indexOf("✅ [Speech] Streaming stopped")
                    < lines.indexOf("☁️ [Google STT] Starting cloud fallback for language: de-DE"));
            QCOMPARE(rig.server.requests.size(), 1);
            QCOMPARE(rig.cloudMicrophone->starts, 2);
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
            QCOMPARE(rig.onDeviceMicrophone->tapBufferFrames, 1024u);
            rig.stop();
        }
        {
            // Stopped while the restart was under way: it stays stopped, and
            // two quick changes make one restart in the last language.
            Rig rig;
            rig.server.replyDelayMs = 200;
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            rig.start();
            manager.setLanguage(SupportedLanguage::german);
            manager.setLanguage(SupportedLanguage::french_FR);
            QTRY_COMPARE(rig.cloudMicrophone->starts, 2);
            QTRY_VERIFY(manager.isListening());
            QCOMPARE(manager.googleSpeechService().selectedLanguage(), QString("fr-FR"));

            manager.setLanguage(SupportedLanguage::italian);
            QCoro::waitFor(manager.stopListening());
            QTest::qWait(100);
            QVERIFY(!manager.isListening());
            QVERIFY(!rig.cloudMicrophone->running);
            QCOMPARE(rig.cloudMicrophone->starts, 2);
        }
    }

    void microphoneAuthorizationOpensTheDefaultSource()
    {
        auto control = std::make_shared<FakeAudioEngine::Control>();
        const AudioEngineFactory factory = FakeAudioEngine::factory(control);
        QCOMPARE(PulseMicrophoneAuthorization::probe(factory), MicrophoneAuthorizationStatus::authorized);
        QCOMPARE(control->starts, 1);
        QCOMPARE(control->stops, 1);
        control->startError = QStringLiteral("Access denied");
        QCOMPARE(PulseMicrophoneAuthorization::probe(factory), MicrophoneAuthorizationStatus::denied);
        control->startError.reset();
        control->format.sampleRate = 0;
        QCOMPARE(PulseMicrophoneAuthorization::probe(factory), MicrophoneAuthorizationStatus::denied);
        control->hasInputNode = false;
        PulseMicrophoneAuthorization authorization(factory);
        QCOMPARE(QCoro::waitFor(authorization.authorizationStatus()), MicrophoneAuthorizationStatus::denied);
        QVERIFY(!QCoro::waitFor(authorization.requestAccess()));

        // The harness's sound server has a default source.
        if (qEnvironmentVariableIsSet("TELLWIND_HARNESS")) {
            QCOMPARE(QCoro::waitFor(PulseMicrophoneAuthorization::shared().authorizationStatus()),
                     MicrophoneAuthorizationStatus::authorized);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecognitionManager)
#include "test_recognition_manager.moc"
