// Speech from the sound server to words, on the real PulseAudio and PocketSphinx: the microphone the user
// chose, the server going away under a capture, the models per language, utterances decoded.

#include "common/Settings.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/LogCapture.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"
#include "speech/engines/pocketsphinx/PocketSphinxEngine.h"
#include "speech/engines/pocketsphinx/PocketSphinxModel.h"
#include "speech/engines/server/ServerEngine.h"
#include "support/PrivatePulseAudio.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cmath>

namespace
{

const QString debianModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
constexpr int decodeTimeout = 30000;

// 16 kHz mono s16le samples: the text spoken, or `seconds` of silence.
QByteArray say(const QString &text, const QTemporaryDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("say.wav"));
    QProcess::execute(QStringLiteral("flite"), { "-voice", "kal16", "-t", text, "-o", path });
    QFile file(path);
    const QByteArray wav = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return wav.contains("data") ? wav.mid(wav.indexOf("data") + 8) : QByteArray();
}
QByteArray silence(double seconds)
{
    return QByteArray(qsizetype(seconds * 16000) * 2, '\0');
}

// What a PulseAudio capture's tap and interruption handler saw, read on the test's thread.
struct Observed {
    QMutex mutex;
    float peak = 0;
    qint64 frames = 0;
    QList<AudioEngine::Interruption> events;
    QStringList reasons;

    explicit Observed(AudioEngine &engine)
    {
        engine.installTap(1024, [this](const AudioBuffer &buffer) {
            const auto *samples = reinterpret_cast<const float *>(buffer.samples.constData());
            QMutexLocker lock(&mutex);
            frames += buffer.frameLength;
            for (qsizetype i = 0; i < buffer.samples.size() / qsizetype(sizeof(float)); ++i)
                peak = std::max(peak, std::abs(samples[i]));
        });
        engine.setInterruptionHandler([this](AudioEngine::Interruption what, const QString &reason) {
            QMutexLocker lock(&mutex);
            events << what;
            reasons << reason;
        });
    }
    template <typename T> T read(const T &field)
    {
        QMutexLocker lock(&mutex);
        return field;
    }
};

} // namespace

class TestPocketSphinx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (QStandardPaths::findExecutable("flite").isEmpty() || !PocketSphinxModel::debianUsEnglish())
            QSKIP("flite and the US English model are needed");
        QVERIFY(m_folder.isValid());
    }
    void init() { Settings::remove(SpeechRecognitionManager::preferredProviderKey); }
    void cleanup() { QFile::remove(Settings::filePath()); }

    // From the sound server to words: the microphone the user chose, the decoder behind the manager, and
    // the server going away under a capture.
    void fromTheMicrophoneToWords()
    {
        using Interruption = AudioEngine::Interruption;
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        PrivatePulseAudio pulse({ "module-null-sink sink_name=spk2",
            "module-remap-source master=spk2.monitor source_name=headset "
            "source_properties=device.description=Headset" });
        QVERIFY(pulse.start());
        const auto restore = PrivatePulseAudio::pointClientsAt(pulse.server());
        const QList<QPair<QString, QString>> sources = PulseAudioEngine::inputSources();
        QVERIFY2(sources.contains({ "headset", "Headset" }), qPrintable(QString::number(sources.size())));
        QVERIFY(std::none_of(sources.cbegin(), sources.cend(),
            [](const auto &source) { return source.first.endsWith(".monitor"); }));

        // The next capture takes the microphone chosen meanwhile, and hears what is played to it alone.
        Settings::setString(PulseAudioEngine::microphoneKey, "headset");
        std::unique_ptr<AudioEngine> chosen = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(chosen.get())->sourceName(), QString("headset"));
        Observed heard(*chosen);
        QCOMPARE(chosen->start(), std::optional<QString>());
        const QString tone = m_folder.filePath("tone.wav");
        QCOMPARE(QProcess::execute(
                     "sox", QString("-n -r 16000 -c 1 %1 synth 0.5 sine 440 vol 0.5").arg(tone).split(' ')),
            0);
        QVERIFY(pulse.play(tone)); // to "spk": the default microphone's, not the headset's
        QTest::qWait(200);
        QCOMPARE(heard.read(heard.peak), 0.0f);
        QCOMPARE(QProcess::execute("paplay", { "-s", pulse.server(), "-d", "spk2", tone }), 0);
        QTRY_VERIFY(heard.read(heard.peak) > 0.1f);
        chosen->stop();
        // Unplugged: the default is used, and the log says so.
        Settings::setString(PulseAudioEngine::microphoneKey, "usb-headset-unplugged");
        LogCapture log;
        chosen = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(chosen.get())->sourceName(), QString("mic"));
        QCOMPARE(
            log.lines().filter("The chosen microphone 'usb-headset-unplugged' is not connected").size(), 1);

        SpeechService server(QStringLiteral("http://127.0.0.1:9"));
        EngineRegistry engines;
        engines.add(pocketSphinxEngine(PocketSphinxDecoderPool::create()));
        engines.add(serverEngine(server));
        PulseMicrophoneAuthorization microphone(PulseAudioEngine::factory());
        SpeechRecognitionManager manager(engines, microphone,
            std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), alerts, workspace));
        const QString first = "good morning everyone", second = "we will meet again tomorrow";
        const QByteArray speech
            = silence(0.3) + say(first, m_folder) + silence(1.5) + say(second, m_folder) + silence(0.3);

        // Played to the default microphone, captured, decoded and published by the manager: the pause ends
        // the first utterance while the session listens on; the second follows it.
        const std::shared_ptr<RecognitionSession> session = QCoro::waitFor(manager.startListening());
        QCOMPARE(manager.activeEngine(), QString("On-device"));
        QSignalSpy texts(&manager, &SpeechRecognitionManager::transcribedTextChanged);
        QMap<quint64, QString> finals; // each utterance's first
        connect(
            session.get(), &RecognitionSession::transcript, this, [&finals](const TranscriptEvent &event) {
                if (event.isFinal && !finals.contains(event.utterance))
                    finals[event.utterance] = event.text;
            });
        // The event loop runs while it plays, as the program's does.
        QProcess player;
        player.start("paplay",
            { "-s", pulse.server(), "-d", "spk", "--raw", "--format=s16le", "--rate=16000", "--channels=1" });
        player.write(speech);
        player.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 30000);
        QCOMPARE(player.exitCode(), 0);
        QCOMPARE(finals.value(0), first);
        QVERIFY(manager.isListening());
        QCoro::waitFor(manager.stopListening(session));
        QTRY_COMPARE_WITH_TIMEOUT(manager.transcribedText(), first + ' ' + second, 10000);
        QTRY_COMPARE(finals.value(1), second);
        QVERIFY(manager.errorMessage().isNull());
        // Once the first utterance was whole, every text after it begins with it.
        const qsizetype whole = texts.indexOf(QVariantList { first });
        QVERIFY(whole >= 0);
        for (const QList<QVariant> &text : texts.mid(whole))
            QVERIFY2(text.first().toString().startsWith(first), qPrintable(text.first().toString()));

        // The loss is told at once; the server comes back within two seconds the first time, not the second.
        Observed seen(*chosen);
        QCOMPARE(chosen->start(), std::optional<QString>());
        QElapsedTimer clock;
        for (const Interruption then : { Interruption::resumed, Interruption::ended }) {
            // The monitor of an idle sink still hands over silence, in real time.
            const qint64 before = seen.read(seen.frames);
            QTRY_VERIFY(seen.read(seen.frames) > before + 4096);
            const qsizetype lost = seen.read(seen.events).size();
            clock.start();
            pulse.kill();
            QTRY_VERIFY_WITH_TIMEOUT(seen.read(seen.events).size() > lost, 1000); // told within a second
            QCOMPARE(seen.read(seen.events).at(lost), Interruption::lost);
            QVERIFY(seen.read(seen.reasons).at(lost).contains(QStringLiteral("sound server")));
            if (then == Interruption::resumed)
                QVERIFY(pulse.start());
            QTRY_COMPARE_WITH_TIMEOUT(
                seen.read(seen.events).mid(lost), (QList<Interruption> { Interruption::lost, then }), 5000);
        }
        // It gave up only once the server had been away for two seconds, for the same reason.
        QCOMPARE_GE(clock.elapsed(), 1900);
        QCOMPARE(seen.read(seen.reasons).last(), seen.read(seen.reasons).at(2));
        chosen->stop();
        // With no sound server left, a start fails at once for want of a microphone.
        AudioRecordingService service(PulseAudioEngine::factory(), alerts, workspace);
        QCOMPARE(QCoro::waitFor(service.startRecording([](QByteArray) {})),
            AudioError(AudioError::Code::inputNodeNotAvailable));
    }

    void modelsPerLocale()
    {
        const QString models
            = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/tellwind/models/";
        QDir(models).removeRecursively();

        // US English comes with Debian; no model, no recognizer.
        QCOMPARE(PocketSphinxModel::forLocale("en-US")->acousticModel, debianModel + "/en-us");
        QVERIFY(!PocketSphinxModel::forLocale("de-DE"));

        // A user's folder comes first, US English included; a phonetic language model is not taken.
        QVERIFY(QDir().mkpath(models + "en-US"));
        for (const auto &[from, to] :
            { std::pair { "/en-us", "acoustic" }, { "/en-us-phone.lm.bin", "en-us-phone.lm.bin" },
                { "/en-us.lm.bin", "language.lm.bin" }, { "/cmudict-en-us.dict", "words.dict" } })
            QFile::link(debianModel + from, models + "en-US/" + to);
        const auto userModel = PocketSphinxModel::forLocale("en-US");
        QVERIFY(userModel);
        QCOMPARE(userModel->acousticModel, QDir(models).absoluteFilePath("en-US/acoustic"));
        QCOMPARE(userModel->languageModel, QDir(models).absoluteFilePath("en-US/language.lm.bin"));
        // A code is never a path, even to a folder that holds a model.
        for (const char *code : { "en-US/../en-US", "../models/en-US", "" })
            QVERIFY2(!PocketSphinxModel::forLocale(code), code);

        // A damaged folder: offered until its model fails to load, which the session reports.
        QVERIFY(QDir().mkpath(models + "fr-FR/fr"));
        for (const char *file : { "fr/mdef", "fr/means", "fr.lm", "fr.dict" }) {
            QFile damaged(models + "fr-FR/" + QString(file));
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("not a model\n");
        }
        const SpeechEngine engine = pocketSphinxEngine(PocketSphinxDecoderPool::create());
        QVERIFY(engine.available("fr-FR") && engine.languages().contains("fr-FR"));
        QVERIFY(!engine.available("de-DE") && !engine.languages().contains("de-DE"));
        const std::shared_ptr<EngineSession> session = engine.create("fr-FR");
        QSignalSpy errors(session.get(), &EngineSession::error);
        QSignalSpy transcripts(session.get(), &EngineSession::transcript);
        QVERIFY(!QCoro::waitFor(session->start(0, 0)));
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, decodeTimeout);
        QVERIFY(errors.first().first().value<EngineError>().kind == EngineErrorKind::failed);
        QVERIFY(transcripts.isEmpty());
        QVERIFY(!engine.available("fr-FR"));
        // A language without a model does not start.
        const std::optional<EngineError> refused = QCoro::waitFor(engine.create("de-DE")->start(0, 0));
        QVERIFY(refused && refused->kind == EngineErrorKind::unavailable);
        QDir(models).removeRecursively();
    }

private:
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestPocketSphinx)
#include "test_pocketsphinx.moc"
