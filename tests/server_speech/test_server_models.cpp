#include "support/ServerProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QStandardPaths>

#include <memory>

namespace
{

using Exchange = RawHttpExchange;

const QString debianModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
const QString phrase = QStringLiteral("hello world this is a test of the dictation system");
const QByteArray silence(16000, '\0');

QByteArray speechPost(const QByteArray &language, const QByteArray &pcm)
{
    return RawHttpExchange::request("POST", "/api/speech?sampleRate=16000&languageCode=" + language, pcm);
}

QJsonObject transcript(const QString &text)
{
    return { { "type", "transcript" }, { "text", text }, { "isFinal", true } };
}

bool link(const QString &target, const QString &name)
{
    return QFile::link(target, name);
}

// Debian's US-English model under another code, by links to its files.
bool linkEnglishModel(const QDir &models, const QString &code)
{
    return models.mkpath(code)
        && link(debianModel + QStringLiteral("/en-us"), models.filePath(code + "/acoustic-model"))
        && link(debianModel + QStringLiteral("/en-us.lm.bin"), models.filePath(code + "/language.lm.bin"))
        && link(debianModel + QStringLiteral("/cmudict-en-us.dict"), models.filePath(code + "/words.dict"));
}

// The same, with the acoustic model's means cut short as by an interrupted
// download: the engine cannot load it.
bool truncatedEnglishModel(const QDir &models, const QString &code)
{
    const QString acoustic = models.filePath(code + "/acoustic-model");
    if (!models.mkpath(code + "/acoustic-model"))
        return false;
    for (const QString &name : QDir(debianModel + "/en-us").entryList(QDir::Files)) {
        if (name != QLatin1String("means") && !link(debianModel + "/en-us/" + name, acoustic + '/' + name))
            return false;
    }
    QFile means(debianModel + "/en-us/means");
    QFile cut(acoustic + "/means");
    if (!means.open(QIODevice::ReadOnly) || !cut.open(QIODevice::WriteOnly))
        return false;
    cut.write(means.read(1000));
    return link(debianModel + QStringLiteral("/en-us.lm.bin"), models.filePath(code + "/language.lm.bin"))
        && link(debianModel + QStringLiteral("/cmudict-en-us.dict"), models.filePath(code + "/words.dict"));
}

// Which languages hold decoders, replayed from the server's log.
QStringList loadedFromLog(const QStringList &lines)
{
    static const QRegularExpression event(QStringLiteral("^speech model (\\S+) (loaded|unloaded)"));
    QStringList loaded;
    for (const QString &line : lines) {
        const auto match = event.match(line);
        if (!match.hasMatch())
            continue;
        if (match.captured(2) == QLatin1String("loaded"))
            loaded << match.captured(1);
        else
            loaded.removeAll(match.captured(1));
    }
    return loaded;
}

} // namespace

class TestServerModels : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QByteArray m_speech;

    std::unique_ptr<ServerProcess> startServer(QStringList arguments)
    {
        auto server = std::make_unique<ServerProcess>(
            QStringList { QStringLiteral("--models"), m_folder.path() } + arguments);
        if (!server->start())
            return nullptr;
        return server;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_speech = spokenPcm(phrase);
        QVERIFY(m_speech.size() > 32000);
        const QDir models(m_folder.path());
        QVERIFY(linkEnglishModel(models, QStringLiteral("en-GB")));
        QVERIFY(truncatedEnglishModel(models, QStringLiteral("de-DE")));
        // Neither a complete model nor a language code: left alone.
        QVERIFY(models.mkpath(QStringLiteral("fr-FR/acoustic-model")));
        QVERIFY(models.mkpath(QStringLiteral("README")));
    }

    // One model at most: asking for another language lets the least recently
    // used one go, and each still decodes exactly.
    void loadsModelsOnDemandWithinTheBound()
    {
        const auto server = startServer({ QStringLiteral("--decoders"), QStringLiteral("1"),
            QStringLiteral("--max-models"), QStringLiteral("1") });
        QVERIFY(server);
        QCOMPARE(loadedFromLog(server->logLines()), QStringList({ "en-US" }));
        for (const char *language : { "en-GB", "en-GB", "en-US", "en-GB" }) {
            QCOMPARE(
                Exchange(server->port(), speechPost(language, m_speech)).wait().json(), transcript(phrase));
            QCOMPARE(loadedFromLog(server->logLines()), QStringList({ QString::fromLatin1(language) }));
        }
        // Loaded once each time it came back, not once per upload.
        QCOMPARE(server->logLines().filter(QStringLiteral("speech model en-GB loaded")).size(), 2);
    }

    // A model that is decoding stays, even beyond the bound, until its
    // decode is over.
    void keepsAModelThatIsDecoding()
    {
        const auto server = startServer({ QStringLiteral("--decoders"), QStringLiteral("2"),
            QStringLiteral("--max-models"), QStringLiteral("1") });
        QVERIFY(server);
        QByteArray longSpeech;
        for (int i = 0; i < 8; ++i)
            longSpeech += m_speech + silence;
        Exchange slow(server->port(), speechPost("en-US", longSpeech));
        QTRY_VERIFY(slow.socket.bytesToWrite() == 0);
        QCOMPARE(Exchange(server->port(), speechPost("en-GB", m_speech)).wait().json(), transcript(phrase));
        QVERIFY(!slow.done());
        QVERIFY(server->logLines().filter(QStringLiteral("speech model en-US unloaded")).isEmpty());
        QCOMPARE(slow.wait().json().value("text").toString().count(QStringLiteral("dictation")), 8);
        QCOMPARE(loadedFromLog(server->logLines()).size(), 1);
    }

    void listsLanguagesAndTheirEngines_data()
    {
        QTest::addColumn<bool>("withUpstream");
        QTest::addRow("local models only") << false;
        QTest::addRow("with an upstream") << true;
    }

    void listsLanguagesAndTheirEngines()
    {
        QFETCH(bool, withUpstream);
        // Nothing listens there; listing does not ask it.
        const auto server
            = startServer(withUpstream ? QStringList { QStringLiteral("--decoders"), QStringLiteral("1"),
                              QStringLiteral("--upstream"), QStringLiteral("http://127.0.0.1:9/v1") }
                                       : QStringList { QStringLiteral("--decoders"), QStringLiteral("1") });
        QVERIFY(server);
        Exchange exchange(server->port(), RawHttpExchange::request("GET", "/api/languages"));
        QCOMPARE(exchange.wait().status(), 200);
        const QJsonArray languages = exchange.json().value("languages").toArray();
        QMap<QString, QString> engines;
        QStringList order;
        for (const QJsonValue &language : languages) {
            order << language["code"].toString();
            engines.insert(language["code"].toString(), language["engine"].toString());
        }
        QCOMPARE(order.mid(0, 3), QStringList({ "en-US", "en-GB", "de-DE" }));
        QCOMPARE(engines.value("en-US"), QStringLiteral("pocketsphinx"));
        QCOMPARE(engines.value("en-GB"), QStringLiteral("pocketsphinx"));
        QCOMPARE(engines.value("de-DE"), QStringLiteral("pocketsphinx"));
        if (withUpstream) {
            QCOMPARE(languages.size(), 94);
            QCOMPARE(order.size(), QSet<QString>(order.cbegin(), order.cend()).size());
            QCOMPARE(engines.value("es-ES"), QStringLiteral("upstream"));
            QCOMPARE(engines.value("fr-FR"), QStringLiteral("upstream"));
            QCOMPARE(engines.value("ku-TR"), QStringLiteral("upstream"));
            QCOMPARE(engines.values().count(QStringLiteral("upstream")), 91);
        } else {
            QCOMPARE(languages.size(), 3);
            QVERIFY(!engines.contains("fr-FR"));
        }
        QCOMPARE(Exchange(server->port(), RawHttpExchange::request("POST", "/api/languages")).wait().status(),
            405);
    }

    // The engine would end the whole server on this model; it answers an
    // error for that language instead and goes on serving the others.
    void refusesADamagedModel()
    {
        const auto server = startServer({ QStringLiteral("--decoders"), QStringLiteral("2") });
        QVERIFY(server);
        QCOMPARE(Exchange(server->port(), speechPost("de-DE", m_speech)).wait().json(),
            QJsonObject({ { "type", "error" }, { "error", "The speech model for de-DE is damaged" } }));
        QVERIFY(server->isRunning());
        QCOMPARE(Exchange(server->port(), speechPost("en-US", m_speech)).wait().json(), transcript(phrase));
        QCOMPARE(Exchange(server->port(), speechPost("de-DE", m_speech)).wait().json(),
            QJsonObject({ { "type", "error" }, { "error", "Language not supported: de-DE" } }));
        const QByteArray listing
            = Exchange(server->port(), RawHttpExchange::request("GET", "/api/languages")).wait().body();
        QVERIFY(!listing.contains("de-DE"));
        QVERIFY(!server->logLines().filter(QStringLiteral("speech model de-DE cannot be used")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestServerModels)
#include "test_server_models.moc"
