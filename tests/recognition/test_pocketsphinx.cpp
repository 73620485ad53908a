#include "common/Settings.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "platform/pulse/PulseMicrophoneAuthorization.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"
#include "speech/engines/pocketsphinx/PocketSphinxEngine.h"
#include "speech/engines/pocketsphinx/PocketSphinxModel.h"
#include "speech/engines/server/ServerEngine.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace
{

const QString debianModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
constexpr int decodeTimeout = 30000;

// Spoken test material: 16 kHz mono s16le samples.
QByteArray silence(double seconds)
{
    return QByteArray(qsizetype(seconds * 16000) * 2, '\0');
}

QByteArray say(const QString &text, const QTemporaryDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("say.wav"));
    QProcess::execute(QStringLiteral("flite"), { "-voice", "kal16", "-t", text, "-o", path });
    QFile file(path);
    const QByteArray wav = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return wav.contains("data") ? wav.mid(wav.indexOf("data") + 8) : QByteArray();
}

// One session of the real decoder, fed as a microphone would feed it. Its
// reports other than partial results, in order: "final <text>", "failed".
struct Session {
    std::shared_ptr<EngineSession> engine;
    QStringList reports;

    Session(const SpeechEngine &row, const QString &language = QStringLiteral("en-US"))
        : engine(row.create(language))
    {
        QObject::connect(engine.get(), &EngineSession::transcript, [this](const TranscriptEvent &event) {
            if (event.isFinal)
                reports << "final " + event.text;
        });
        QObject::connect(engine.get(), &EngineSession::error, [this](const EngineError &error) {
            if (error.kind == EngineErrorKind::failed)
                reports << "failed";
        });
        QVERIFY(!QCoro::waitFor(engine->start(0, 0)));
    }
};

} // namespace

// The on-device recognizer on the real decoder, alone and behind the manager.
class TestPocketSphinx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        Settings::remove(SpeechRecognitionManager::preferredProviderKey);
        if (QStandardPaths::findExecutable("flite").isEmpty() || !PocketSphinxModel::debianUsEnglish())
            QSKIP("flite and the US English model are needed");
        QVERIFY(m_folder.isValid());
    }

    void modelsPerLocale()
    {
        const QString models
            = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/tellwind/models/";
        QDir(models).removeRecursively();

        // US English comes with Debian; no model, no recognizer; a code is
        // never a path.
        QCOMPARE(PocketSphinxModel::forLocale("en-US")->acousticModel, debianModel + "/en-us");
        for (const char *code : { "de-DE", "../../model/en-us", "" })
            QVERIFY2(!PocketSphinxModel::forLocale(code), code);

        // A user's folder comes first, US English included; a phonetic
        // language model beside the real one is not taken for it.
        QVERIFY(QDir().mkpath(models + "en-US"));
        QFile::link(debianModel + "/en-us", models + "en-US/acoustic");
        QFile::link(debianModel + "/en-us-phone.lm.bin", models + "en-US/en-us-phone.lm.bin");
        QFile::link(debianModel + "/en-us.lm.bin", models + "en-US/language.lm.bin");
        QFile::link(debianModel + "/cmudict-en-us.dict", models + "en-US/words.dict");
        const auto userModel = PocketSphinxModel::forLocale("en-US");
        QVERIFY(userModel);
        QCOMPARE(userModel->acousticModel, QDir(models).absoluteFilePath("en-US/acoustic"));
        QCOMPARE(userModel->languageModel, QDir(models).absoluteFilePath("en-US/language.lm.bin"));

        // A damaged folder: a recognizer exists until the model fails to
        // load; the session reports the failure, then the recognizer is no
        // longer available.
        QVERIFY(QDir().mkpath(models + "fr-FR/fr"));
        for (const char *file : { "fr/mdef", "fr/means", "fr.lm", "fr.dict" }) {
            QFile damaged(models + "fr-FR/" + QString(file));
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("not a model\n");
        }
        const SpeechEngine engine = pocketSphinxEngine(PocketSphinxDecoderPool::create());
        QVERIFY(engine.available("fr-FR") && engine.languages().contains("fr-FR"));
        QVERIFY(!engine.available("de-DE") && !engine.languages().contains("de-DE"));
        Session session(engine, "fr-FR");
        QTRY_COMPARE_WITH_TIMEOUT(session.reports, QStringList { "failed" }, decodeTimeout);
        QVERIFY(!engine.available("fr-FR"));
        // A language without a model does not start.
        const std::optional<EngineError> refused = QCoro::waitFor(engine.create("de-DE")->start(0, 0));
        QVERIFY(refused && refused->kind == EngineErrorKind::unavailable);
        QDir(models).removeRecursively();
    }

    // Speech played into the harness's virtual microphone in real time,
    // captured from PulseAudio, decoded, published by the manager.
    void spokenUtterancesBecomeOneTranscript()
    {
        if (!qEnvironmentVariableIsSet("TELLWIND_HARNESS"))
            QSKIP("needs the harness's sound server (tests/harness.sh)");
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        SpeechService server(QStringLiteral("http://127.0.0.1:9"));
        EngineRegistry engines;
        engines.add(pocketSphinxEngine(PocketSphinxDecoderPool::create()));
        engines.add(serverEngine(server));
        PulseMicrophoneAuthorization microphone(PulseAudioEngine::factory());
        SpeechRecognitionManager manager(engines, microphone,
            std::make_unique<AudioRecordingService>(PulseAudioEngine::factory(), alerts, workspace));
        QFile raw(m_folder.filePath("play.raw"));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write(silence(0.3) + say("good morning everyone", m_folder) + silence(1.5)
            + say("we will meet again tomorrow", m_folder) + silence(0.3));
        raw.close();

        // The pause ends the first utterance while the session listens on;
        // the second grows the transcript behind it.
        const std::shared_ptr<RecognitionSession> session = QCoro::waitFor(manager.startListening());
        QCOMPARE(manager.activeEngine(), QString("On-device"));
        QSignalSpy texts(&manager, &SpeechRecognitionManager::transcribedTextChanged);
        QSignalSpy events(session.get(), &RecognitionSession::transcript);
        QProcess player;
        player.start("paplay",
            { "-d", "spk", "--raw", "--format=s16le", "--rate=16000", "--channels=1", raw.fileName() });
        QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 30000);
        QCOMPARE(player.exitCode(), 0);
        // Each utterance says what it is; the first ended while the session went on.
        const auto finalOf = [&events](quint64 utterance) {
            for (const QList<QVariant> &event : std::as_const(events)) {
                const auto transcript = event.first().value<TranscriptEvent>();
                if (transcript.isFinal && transcript.utterance == utterance)
                    return transcript.text;
            }
            return QString();
        };
        QCOMPARE(finalOf(0), QString("good morning everyone"));
        QVERIFY(manager.isListening());
        QCoro::waitFor(manager.stopListening(session));
        QTRY_COMPARE_WITH_TIMEOUT(
            manager.transcribedText(), QString("good morning everyone we will meet again tomorrow"), 10000);
        bool firstDone = false;
        for (const QList<QVariant> &text : std::as_const(texts)) {
            QVERIFY2(!firstDone || text.first().toString().startsWith("good morning everyone"),
                qPrintable(text.first().toString()));
            firstDone = firstDone || text.first().toString() == "good morning everyone";
        }
        QVERIFY(firstDone);
        QTRY_COMPARE(finalOf(1), QString("we will meet again tomorrow"));
        QVERIFY(manager.errorMessage().isNull());
    }

private:
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestPocketSphinx)
#include "test_pocketsphinx.moc"
