#include "support/RecognitionRig.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace
{

using Rig = RecognitionRig;

const QString onDevice = QStringLiteral("On-device"), server = QStringLiteral("Server");

} // namespace

class TestRecognitionManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void onDeviceSession()
    {
        // Microphone refused: no session, the message, and the question again at every start until granted.
        Rig rig;
        rig.source->format = { 48000.0, 2 };
        rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
        rig.microphone.grantsOnRequest = false;
        SpeechRecognitionManager &manager = rig.make();
        for (int attempt = 1; attempt <= 2; ++attempt) {
            rig.start();
            QVERIFY(!manager.isListening() && rig.source->starts == 0);
            QCOMPARE(manager.errorMessage(),
                "Microphone access not authorized. Please enable it in your desktop's Sound settings");
            QCOMPARE(rig.microphone.statusQueries, attempt);
        }
        rig.microphone.status = MicrophoneAuthorizationStatus::notDetermined;
        rig.microphone.grantsOnRequest = true;
        rig.start();
        QVERIFY(
            manager.isListening() && manager.activeEngine() == onDevice && manager.errorMessage().isNull());
        FakeEngineSession &task = rig.speech.last();
        QVERIFY(task.started && task.language == "en-US");

        // Each result replaces its utterance; a final one does not end the session, the next follows it.
        task.partial("hello word");
        QCOMPARE(manager.transcribedText(), QString("hello word"));
        task.final("hello world");
        task.report("again", false, 1);
        QCOMPARE(manager.transcribedText(), QString("hello world again"));

        // "No speech yet" is only a notice; a passing error shows, the session goes on.
        task.fail(EngineErrorKind::noSpeech);
        QVERIFY(manager.errorMessage().isNull());
        task.fail(EngineErrorKind::passing, "Retry");
        QCOMPARE(manager.errorMessage(), QString("Retry"));
        QVERIFY(manager.isListening() && manager.activeEngine() == onDevice);
        QVERIFY(!rig.server->isStreaming());
        rig.start();
        QCOMPARE(rig.speech.sessions.size(), size_t(1));

        // The capture's PCM, the resampler's tail included, reaches the recognizer before its audio ends;
        // the stop waits for the decoder's last words. A failure after them is only logged.
        for (int buffer = 0; buffer < 10; ++buffer)
            QVERIFY(rig.source->deliver(4096));
        task.holdFinish = true;
        QCoro::Task<> stopping = manager.stopListening(rig.session);
        QTRY_VERIFY(task.finishing);
        // The microphone is free for the next session while the last words come.
        QVERIFY(!manager.isListening() && !rig.source->running);
        task.final("hello world once more");
        task.release();
        QCoro::waitFor(std::move(stopping));
        QCOMPARE(manager.transcribedText(), QString("hello world once more again"));
        QVERIFY(!manager.isListening() && !rig.source->running);
        QVERIFY(task.ended && !task.fedAfterEnd);
        QVERIFY(qAbs(task.bytes() / 2 - qRound(10 * 4096 / 3.0)) <= 1);
        // A failure after the stop reopens nothing.
        task.fail(EngineErrorKind::failed);
        QCOMPARE(rig.source->starts, 1);
        QCOMPARE(rig.speech.sessions.size(), size_t(1));
        QVERIFY(!rig.server->isStreaming() && manager.activeEngine() == onDevice);

        // A new session starts empty; what the old one still says is its own dictation's business alone.
        const std::shared_ptr<RecognitionSession> previous = rig.session;
        QSignalSpy previousErrors(previous.get(), &RecognitionSession::recognitionError);
        rig.start();
        QVERIFY(manager.transcribedText().isEmpty() && manager.errorMessage().isNull());
        task.final("stale words");
        task.fail(EngineErrorKind::failed);
        task.fail(EngineErrorKind::passing, "stale trouble");
        rig.speech.last().partial("fresh");
        QCOMPARE(manager.transcribedText(), QString("fresh"));
        QVERIFY(manager.errorMessage().isNull());
        QCOMPARE(previousErrors.size(), 1);
        QCOMPARE(manager.activeEngine(), onDevice);
        QCOMPARE(rig.speech.sessions.size(), size_t(2));
        // Granted once, the microphone is not asked about again.
        QCOMPARE(rig.microphone.statusQueries, 3);
    }

    // The ways an engine gives up, running or at its start: each hands the capture to the next engine.
    void fallsBackToTheServer_data()
    {
        QTest::addColumn<EngineErrorKind>("kind");
        QTest::newRow("failed") << EngineErrorKind::failed;
        QTest::newRow("unavailable") << EngineErrorKind::unavailable;
    }

    void fallsBackToTheServer()
    {
        QFETCH(EngineErrorKind, kind);
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        QSignalSpy engines(&manager, &SpeechRecognitionManager::activeEngineChanged);
        rig.start();
        FakeEngineSession &task = rig.speech.last();
        task.partial("on device words");
        QSignalSpy events(rig.session.get(), &RecognitionSession::transcript);
        // Replies the client has for nobody's stream are nobody's.
        emit rig.server->transcript({ 0, 0, "server words", false });

        // The engine fails: the server takes the running capture over; the words stay until it speaks.
        task.fail(kind);
        QCOMPARE(engines.size(), 1);
        QCOMPARE(manager.activeEngine(), server);
        QTRY_VERIFY(rig.server->isStreaming());
        QVERIFY(task.finishing && manager.isListening() && rig.source->running);
        QCOMPARE(rig.source->starts, 1);
        QVERIFY(events.isEmpty() && manager.errorMessage().isNull());
        QCOMPARE(manager.transcribedText(), QString("on device words"));
        emit rig.server->streamEvents()->transcript("from the server");
        QCOMPARE(manager.transcribedText(), QString("from the server"));
        // A new utterance: the typing layer must not take it for an edit of the old one.
        QCOMPARE(events.last().first().value<TranscriptEvent>().utterance, quint64(1));
        // The server's own failures are shown; there is nothing after it to fall to.
        emit rig.server->streamEvents()->failed("Upload failed");
        QCOMPARE(manager.errorMessage(), QString("Upload failed"));
        QCOMPARE(manager.activeEngine(), server);
        rig.stop();

        // The engine cannot start: the server on the same capture; the next session tries it again.
        rig.speech.startError = EngineError { kind, "No model" };
        rig.start();
        QVERIFY(manager.isListening() && manager.activeEngine() == server);
        QVERIFY(rig.speech.last().finishing);
        rig.stop();
        QCOMPARE(rig.source->starts, 2);
        rig.speech.startError.reset();
        rig.start();
        QCOMPARE(manager.activeEngine(), onDevice);
        rig.stop();

        // Not available for the language: the server is chosen without trying it.
        const size_t made = rig.speech.sessions.size();
        rig.speech.languages["en-US"] = false;
        rig.start();
        QCOMPARE(manager.activeEngine(), server);
        QCOMPARE(rig.speech.sessions.size(), made);
        rig.stop();

        // The microphone cannot open: no session, the reason shown.
        rig.source->hasInputNode = false;
        manager.togglePreferredProvider();
        rig.start();
        QVERIFY(!manager.isListening() && !rig.server->isStreaming());
        QCOMPARE(
            manager.errorMessage(), QString("Failed to start server recognition: Audio input not available"));
    }

    // The panel's choice of path is kept for the next start, named as earlier versions named it;
    // a name no engine has is the first engine.
    void thePreferredPathIsKept()
    {
        Rig rig;
        rig.make().togglePreferredProvider();
        const auto next = [&rig] {
            return SpeechRecognitionManager(rig.engines, rig.microphone,
                std::make_unique<AudioRecordingService>(
                    FakeAudioEngine::factory(rig.source), rig.alerts, rig.workspace))
                .preferredEngine();
        };
        QCOMPARE(next(), server);
        for (const auto &[stored, expected] :
            { std::pair { server, server }, { onDevice, onDevice }, { QString("Whisper"), onDevice } }) {
            Settings::setString(SpeechRecognitionManager::preferredProviderKey, stored);
            QCOMPARE(next(), expected);
        }
    }

    void languageChangeRestartsAfterTheStopFinished()
    {
        {
            // Server: the stop waits for the last upload's answer before the session restarts in German.
            Rig rig;
            SpeechRecognitionManager &manager = rig.make();
            manager.togglePreferredProvider();
            rig.server->setBufferInterval(60s); // only the stop uploads
            rig.server->setRetryDelays(10ms, 10ms);
            rig.start();
            QVERIFY(rig.speak(2.0, 0.1f));
            QTRY_VERIFY(rig.server->audioBuffer().size() >= SpeechService::minBufferSize);
            QStringList order;
            connect(
                rig.server.get(), &SpeechService::recognitionError, this, [&order] { order << "failed"; });
            connect(rig.server.get(), &SpeechService::stopSettled, this, [&order] { order << "stopped"; });
            connect(
                rig.server.get(), &SpeechService::isStreamingChanged, this, [&order, &rig](bool streaming) {
                    if (streaming)
                        order << "streaming " + rig.server->selectedLanguage();
                });
            manager.setLanguage(SupportedLanguage::german);
            QTRY_COMPARE(order, QStringList({ "failed", "stopped", "streaming de-DE" }));
            QVERIFY(manager.isListening());
        }
        {
            // On-device: a new task on a recognizer for the new language.
            Rig rig;
            rig.speech.languages["en-GB"] = true;
            SpeechRecognitionManager &manager = rig.make();
            rig.start();
            rig.speech.last().partial("colour");
            manager.setLanguage(SupportedLanguage::english_UK);
            QTRY_COMPARE(rig.speech.sessions.size(), size_t(2));
            QTRY_VERIFY(manager.isListening());
            QCOMPARE(rig.speech.last().language, QString("en-GB"));
            QVERIFY(rig.speech.sessions.front()->finishing);
            // The same session hears on; the new engine's utterances follow the old one's.
            QCOMPARE(manager.currentSession(), rig.session);
            QCOMPARE(rig.speech.last().firstUtterance, quint64(1));
        }
        // Two quick changes make one restart in the last language; a stop during a restart stays a stop.
        Rig rig;
        SpeechRecognitionManager &manager = rig.make();
        manager.togglePreferredProvider();
        rig.start();
        manager.setLanguage(SupportedLanguage::german);
        manager.setLanguage(SupportedLanguage::french_FR);
        QTRY_COMPARE(rig.source->starts, 2);
        QTRY_VERIFY(manager.isListening());
        QCOMPARE(rig.server->selectedLanguage(), QString("fr-FR"));
        manager.setLanguage(SupportedLanguage::italian);
        rig.stop();
        QTest::qWait(100);
        QVERIFY(!manager.isListening() && !rig.source->running);
        QCOMPARE(rig.source->starts, 2);
    }
};

QTEST_GUILESS_MAIN(TestRecognitionManager)
#include "test_recognition_manager.moc"
