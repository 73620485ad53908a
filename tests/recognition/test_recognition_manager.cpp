#include "fakes/LogCapture.h"
#include "support/RecognitionRig.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace
{

struct Rig : RecognitionRig {
    LogCapture log;
    bool logged(const QString &line) { return log.lines().contains(line); }
};

} // namespace

class TestRecognitionManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void refusedMicrophoneIsAskedAgain()
    {
        // Microphone refused: no session, the message, and the question comes
        // again at every start until it is granted.
        Rig rig;
        rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
        rig.microphone.grantsOnRequest = false;
        SpeechRecognitionManager &manager = rig.make();
        for (int attempt = 1; attempt <= 2; ++attempt) {
            rig.start();
            QVERIFY(!manager.isListening());
            QCOMPARE(manager.errorMessage(),
                "Microphone access not authorized. Please enable it in your desktop's Sound settings");
            QCOMPARE(rig.microphone.statusQueries, attempt);
        }
        QCOMPARE(rig.source->starts, 0);
        rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
        rig.microphone.grantsOnRequest = true;
        rig.start();
        QVERIFY(manager.isListening() && manager.errorMessage().isNull());
        rig.stop();
        rig.start();
        QCOMPARE(rig.microphone.statusQueries, 3);
    }

    void onDeviceSession()
    {
        Rig rig;
        rig.source->format = { 48000.0, 1 };
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::onDevice);
        const std::shared_ptr<FakeSpeechRecognitionRequest> request = rig.speech.requests.back();
        QVERIFY(request->partialResults);

        // Each result replaces its utterance; a final one does not end the
        // session, and the next utterance follows it.
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("hello word");
        QTRY_COMPARE(manager.transcribedText(), QString("hello word"));
        task.final("hello world");
        task.report(SpeechRecognitionResult { "hello world again", false, 1, "again" }, std::nullopt);
        QTRY_COMPARE(manager.transcribedText(), QString("hello world again"));

        // "No speech yet" is only a notice; other errors show, the session goes on.
        task.error(1110);
        task.error(203, "Retry");
        QTRY_COMPARE(manager.errorMessage(), QString("Retry"));
        task.error(1107, "Other trouble", "NSOSStatusErrorDomain"); // the code counts in its domain only
        QTRY_COMPARE(manager.errorMessage(), QString("Other trouble"));
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::onDevice);
        rig.start();
        QCOMPARE(rig.speech.tasks.size(), size_t(1));

        // The capture's PCM reaches the recognizer, the resampler's last
        // samples included, before its audio ends; the stop waits for the
        // decoder's last words. A failure after them is only logged.
        for (int buffer = 0; buffer < 10; ++buffer)
            QVERIFY(rig.source->deliver(4096));
        task.reportsCancel = false;
        QCoro::Task<> stopping = manager.stopListening(rig.session);
        QTRY_VERIFY(task.cancelled);
        // The microphone is free for the next session while the last words come.
        QVERIFY(!manager.isListening() && !rig.source->running);
        task.final("hello world once more");
        task.error(216);
        QCoro::waitFor(std::move(stopping));
        QCOMPARE(manager.transcribedText(), QString("hello world once more again"));
        QVERIFY(!manager.isListening() && !rig.source->running);
        QVERIFY(request->ended && !request->fedAfterEnd);
        QVERIFY(qAbs(request->bytes() / 2 - qRound(10 * 4096 / 3.0)) <= 1);
        task.error(1107);
        QTRY_VERIFY(rig.logged("❌ [On-device STT] Recognition failed (code: 1107), falling back..."));
        QCOMPARE(rig.source->starts, 1);

        // A new session starts empty; what the old task still says is not its business.
        rig.start();
        QVERIFY(manager.transcribedText().isEmpty() && manager.errorMessage().isNull());
        task.final("stale words");
        task.error(1107);
        rig.speech.lastTask().partial("fresh");
        QTRY_COMPARE(manager.transcribedText(), QString("fresh"));
        QCOMPARE(manager.activeProvider(), STTProvider::onDevice);
    }

    void fallsBackToTheServer()
    {
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        FakeSpeechRecognitionTask &task = rig.speech.lastTask();
        task.partial("on device words");
        QTRY_COMPARE(manager.transcribedText(), QString("on device words"));
        QSignalSpy events(rig.session.get(), &RecognitionSession::transcript);
        emit manager.serverSpeechService().transcript({ 0, 0, "server words", false });

        // The recognizer fails: the server takes the running capture over;
        // the on-device words stay until it has something to say.
        task.error(1107);
        QTRY_COMPARE(manager.activeProvider(), STTProvider::server);
        QTRY_VERIFY(manager.serverSpeechService().isStreaming());
        QVERIFY(task.cancelled && manager.isListening() && rig.source->running);
        QCOMPARE(rig.source->starts, 1);
        QVERIFY(events.isEmpty());
        QCOMPARE(manager.transcribedText(), QString("on device words"));
        emit manager.serverSpeechService().transcript({ 0, 0, "from the server", false });
        QTRY_COMPARE(manager.transcribedText(), QString("from the server"));
        // A new utterance: the typing layer must not take it for an edit of the old one.
        QCOMPARE(events.last().first().value<TranscriptEvent>().utterance, quint64(1));
        rig.stop();

        // No request to be had: the server from the start, on the same capture.
        rig.speech.refuseRequests = true;
        rig.start();
        QVERIFY(rig.logged("❌ [On-device STT] Error: Unable to create recognition request, falling back..."));
        QVERIFY(manager.isListening() && manager.activeProvider() == STTProvider::server);
        rig.stop();
        QCOMPARE(rig.source->starts, 2);

        // The microphone cannot open: no session, the reason shown.
        rig.source->hasInputNode = false;
        manager.togglePreferredProvider();
        rig.start();
        QVERIFY(!manager.isListening() && !manager.serverSpeechService().isStreaming());
        QCOMPARE(
            manager.errorMessage(), QString("Failed to start server recognition: Audio input not available"));
    }

    // The panel's choice of path is kept for the next start of the program.
    void thePreferredPathIsKept()
    {
        Rig rig;
        rig.make().togglePreferredProvider();
        SpeechRecognitionManager next(rig.speech, rig.microphone,
            std::make_unique<SpeechService>(QStringLiteral("http://127.0.0.1:9")),
            std::make_unique<AudioRecordingService>(
                FakeAudioEngine::factory(rig.source), rig.alerts, rig.workspace));
        QCOMPARE(next.preferredProvider(), STTProvider::server);
    }

    void languageChangeRestartsAfterTheStopFinished()
    {
        {
            // Server: the stop waits for the final upload's answer before the
            // session starts again, in German.
            Rig rig;
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            manager.serverSpeechService().setBufferInterval(60s); // only the stop uploads
            rig.start();
            QVERIFY(rig.speak(2.0, 0.1f));
            QTRY_VERIFY(manager.serverSpeechService().audioBuffer().size() >= SpeechService::minBufferSize);
            manager.setLanguage(SupportedLanguage::german);
            QTRY_VERIFY(rig.logged("✅ [Server STT] Started with language: de-DE"));
            const QStringList lines = rig.log.lines();
            const qsizetype failed = lines.indexOf(QRegularExpression("❌ \\[Speech\\] Upload failed: .*"));
            QVERIFY(failed > 0 && failed < lines.indexOf("✅ [Speech] Streaming stopped"));
            QVERIFY(lines.indexOf("✅ [Speech] Streaming stopped")
                < lines.indexOf("☁️ [Server STT] Starting cloud fallback for language: de-DE"));
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
        // Two quick changes make one restart in the last language; a stop
        // while a restart is under way keeps the session stopped.
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        manager.togglePreferredProvider();
        rig.start();
        manager.setLanguage(SupportedLanguage::german);
        manager.setLanguage(SupportedLanguage::french_FR);
        QTRY_COMPARE(rig.source->starts, 2);
        QTRY_VERIFY(manager.isListening());
        QCOMPARE(manager.serverSpeechService().selectedLanguage(), QString("fr-FR"));
        manager.setLanguage(SupportedLanguage::italian);
        rig.stop();
        QTest::qWait(100);
        QVERIFY(!manager.isListening() && !rig.source->running);
        QCOMPARE(rig.source->starts, 2);
    }
};

QTEST_GUILESS_MAIN(TestRecognitionManager)
#include "test_recognition_manager.moc"
