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
        const QString first = "good morning everyone", second = "we will meet again tomorrow";
        raw.write(silence(0.3) + say(first, m_folder) + silence(1.5) + say(second, m_folder) + silence(0.3));
        raw.close();

        // The pause ends the first utterance while the session listens on; the second follows it.
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
            { "-d", "spk", "--raw", "--format=s16le", "--rate=16000", "--channels=1", raw.fileName() });
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
    }

private:
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestPocketSphinx)
#include "test_pocketsphinx.moc"
