#include "support/RecognitionRig.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <numeric>

using namespace std::chrono_literals;
using Rig = RecognitionRig;

static const QString onDevice = QStringLiteral("On-device"), server = QStringLiteral("Server");

// Root mean square of `count` samples of 16-bit PCM from sample `from` on.
static double level(const QByteArray &pcm, qsizetype from, qsizetype count)
{
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData()) + from;
    return std::sqrt(std::inner_product(samples, samples + count, samples, 0.0) / double(count));
}

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
        QVERIFY(manager.isListening() && manager.activeEngine() == onDevice && !rig.server->isStreaming());
        rig.start();
        QCOMPARE(rig.speech.sessions.size(), size_t(1));

        // The capture's PCM, the resampler's tail included, reaches the recognizer before its audio ends;
        // the stop waits for the decoder's last words. A failure after them is only logged.
        for (int buffer = 0; buffer < 10; ++buffer)
            QVERIFY(rig.source->deliver(4096));
        task.holdFinish = true;
        QCoro::Task<> stopping = manager.stopListening(rig.session);
        QTRY_VERIFY(task.finishing);
        QVERIFY(!manager.isListening() && !rig.source->running); // free for the next session already
        task.final("hello world once more");
        task.release();
        QCoro::waitFor(std::move(stopping));
        QCOMPARE(manager.transcribedText(), QString("hello world once more again"));
        QVERIFY(!manager.isListening() && !rig.source->running && task.ended && !task.fedAfterEnd);
        QCOMPARE_LE(qAbs(task.pcm.size() / 2 - qRound(10 * 4096 / 3.0)), 1);
        task.fail(EngineErrorKind::failed);
        QVERIFY(rig.source->starts == 1 && rig.speech.sessions.size() == 1);
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
        QVERIFY(manager.errorMessage().isNull() && manager.activeEngine() == onDevice);
        QCOMPARE(previousErrors.size(), 1);
        QCOMPARE(rig.speech.sessions.size(), size_t(2));
        QCOMPARE(rig.microphone.statusQueries, 3); // granted once, it is not asked about again
    }

    // What the capture hands the recognizer: each buffer at its place and level, beyond full scale clipped,
    // not wrapped round, and in full: the stop hands over what the resampler still holds.
    void theCaptureConvertsInOrderWithoutLosingAudio()
    {
        Rig rig;
        rig.source->format = { 48000.0, 1 };
        rig.make();
        rig.start();
        const QSet<int> loud { 3, 4, 11, 17 };
        for (int i = 0; i < 60; ++i)
            QVERIFY(rig.source->deliver(4096, loud.contains(i) ? 1.5f : 0.1f));
        rig.stop();
        const QByteArray pcm = rig.speech.last().pcm;
        QCOMPARE_LE(qAbs(pcm.size() / 2 - qRound(60 * 4096 / 3.0)), 1);
        for (int i = 0; i < 60; ++i) {
            const double expected = loud.contains(i) ? 32767 : 0.1 * 32767;
            const double measured = level(pcm, qsizetype(i * 4096 / 3.0 + 200), 900);
            QVERIFY2(qAbs(measured - expected) < expected * 0.02, qPrintable(QString("buffer %1").arg(i)));
        }

        // Stereo at 44.1 kHz, a short last buffer: both channels at a quarter make a quarter, not a half.
        rig.source->format = { 44100.0, 2 };
        rig.start();
        for (int i = 0; i < 20; ++i)
            QVERIFY(rig.source->deliver(4096));
        QVERIFY(rig.source->deliver(1000));
        rig.stop();
        const QByteArray mono = rig.speech.last().pcm;
        QCOMPARE_LE(std::abs(mono.size() / 2 - (20 * 4096 + 1000) * 16000 / 44100.0), 1);
        QCOMPARE_LT(qAbs(level(mono, 2000, 20000) - 0.25 * 32767), 0.25 * 32767 * 0.02);
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
        QVERIFY(engines.size() == 1 && manager.activeEngine() == server);
        QTRY_VERIFY(rig.server->isStreaming());
        QVERIFY(task.finishing && manager.isListening() && rig.source->running && rig.source->starts == 1);
        QVERIFY(events.isEmpty() && manager.errorMessage().isNull());
        QCOMPARE(manager.transcribedText(), QString("on device words"));
        emit rig.server->streamEvents()->transcript("from the server");
        QCOMPARE(manager.transcribedText(), QString("from the server"));
        // A new utterance: the typing layer must not take it for an edit of the old one.
        QCOMPARE(events.last().first().value<TranscriptEvent>().utterance, quint64(1));
        // The server's own failures are shown; there is nothing after it to fall to.
        emit rig.server->streamEvents()->failed("Upload failed");
        QVERIFY(manager.errorMessage() == "Upload failed" && manager.activeEngine() == server);
        rig.stop();

        // The engine cannot start: the server on the same capture; the next session tries it again.
        rig.speech.startError = EngineError { kind, "No model" };
        rig.start();
        QVERIFY(manager.isListening() && manager.activeEngine() == server && rig.speech.last().finishing);
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
        QVERIFY(manager.activeEngine() == server && rig.speech.sessions.size() == made);
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
        const auto next = [&rig] { return rig.make({}, false).preferredEngine(); };
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
            QVERIFY(manager.isListening() && rig.source->starts == 2);
            // Two quick changes make one restart in the last language; a stop during a restart stays a stop.
            manager.setLanguage(SupportedLanguage::french_FR);
            manager.setLanguage(SupportedLanguage::italian);
            QTRY_COMPARE(rig.source->starts, 3);
            QTRY_VERIFY(manager.isListening());
            QCOMPARE(rig.server->selectedLanguage(), QString("it-IT"));
            manager.setLanguage(SupportedLanguage::german);
            rig.stop();
            QTest::qWait(100);
            QVERIFY(!manager.isListening() && !rig.source->running && rig.source->starts == 3);
        }
        // On-device: a new task on a recognizer for the new language.
        Rig rig;
        rig.speech.languages["en-GB"] = true;
        SpeechRecognitionManager &manager = rig.make();
        rig.start();
        rig.speech.last().partial("colour");
        manager.setLanguage(SupportedLanguage::english_UK);
        QTRY_COMPARE(rig.speech.sessions.size(), size_t(2));
        QTRY_VERIFY(manager.isListening());
        QVERIFY(rig.speech.last().language == "en-GB" && rig.speech.sessions.front()->finishing);
        // The same session hears on; the new engine's utterances follow the old one's.
        QVERIFY(manager.currentSession() == rig.session && rig.speech.last().firstUtterance == 1);
    }
};

QTEST_GUILESS_MAIN(TestRecognitionManager)
#include "test_recognition_manager.moc"
