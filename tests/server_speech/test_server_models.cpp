#include "support/ServerProcess.h"

#include <QDir>
#include <QStandardPaths>

#include <memory>

namespace
{

const QString debianModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
const QString phrase = QStringLiteral("hello world this is a test of the dictation system");

// Debian's US-English model under another code, by links to its files. When
// `damaged`, the acoustic model's means are cut short as by an interrupted
// download: the engine cannot load it.
bool englishModelAs(const QDir &models, const QString &code, bool damaged = false)
{
    const QString acoustic = models.filePath(code + "/acoustic-model");
    bool made = models.mkpath(code)
        && QFile::link(debianModel + "/en-us.lm.bin", models.filePath(code + "/language.lm.bin"))
        && QFile::link(debianModel + "/cmudict-en-us.dict", models.filePath(code + "/words.dict"));
    if (!damaged)
        return made && QFile::link(debianModel + "/en-us", acoustic);
    made = made && models.mkpath(code + "/acoustic-model");
    for (const QString &name : QDir(debianModel + "/en-us").entryList(QDir::Files))
        made = made
            && (name == QLatin1String("means")
                || QFile::link(debianModel + "/en-us/" + name, acoustic + '/' + name));
    QFile means(debianModel + "/en-us/means"), cut(acoustic + "/means");
    return made && means.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly)
        && cut.write(means.read(1000)) == 1000;
}

} // namespace

class TestServerModels : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QByteArray m_speech;

    std::unique_ptr<ServerProcess> startServer(const QStringList &arguments)
    {
        auto server
            = std::make_unique<ServerProcess>(QStringList { "--models", m_folder.path() } + arguments);
        return server->start() ? std::move(server) : nullptr;
    }
    QJsonObject post(ServerProcess &server, const QByteArray &language)
    {
        return server.send(speechPost(m_speech, "&languageCode=" + language)).json();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_speech = spokenPcm(phrase);
        QVERIFY(m_speech.size() > 32000);
        const QDir models(m_folder.path());
        QVERIFY(englishModelAs(models, QStringLiteral("en-GB")));
        QVERIFY(englishModelAs(models, QStringLiteral("de-DE"), true));
        // Neither a complete model nor a language code: left alone.
        QVERIFY(models.mkpath(QStringLiteral("fr-FR/acoustic-model")));
        QVERIFY(models.mkpath(QStringLiteral("README")));
    }

    // One model at most: asking for another language lets the least recently
    // used one go, and each still decodes exactly.
    void loadsModelsOnDemandWithinTheBound()
    {
        const auto server = startServer({ "--decoders", "1", "--max-models", "1" });
        QVERIFY(server);
        for (const char *language : { "en-GB", "en-GB", "en-US", "en-GB" })
            QCOMPARE(post(*server, language), transcriptJson(phrase));
        // Loaded again each time it came back, not once per upload.
        for (const char *language : { "en-US", "en-GB" })
            QCOMPARE(
                server->logLines().filter(QStringLiteral("speech model %1 loaded").arg(language)).size(), 2);
    }

    // The engine would end the whole server on this model; it answers an
    // error for that language instead and goes on serving the others.
    void refusesADamagedModel()
    {
        const auto server = startServer({ "--decoders", "2" });
        QVERIFY(server);
        QCOMPARE(post(*server, "de-DE"), errorJson("The speech model for de-DE is damaged"));
        QCOMPARE(post(*server, "en-US"), transcriptJson(phrase));
        QCOMPARE(post(*server, "de-DE"), errorJson("Language not supported: de-DE"));
        QVERIFY(!server->get("/api/languages").body.contains("de-DE"));
    }
};

QTEST_GUILESS_MAIN(TestServerModels)
#include "test_server_models.moc"
