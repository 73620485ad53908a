// The real server under a burst of sign-ins while speech is being uploaded:
// the password checks queue on their own threads, the event loop keeps
// answering, and every upload still gets its transcript.
#include "TestDatabase.h"
#include "support/ServerProcess.h"

#include <QStandardPaths>
#include <QUrlQuery>

#include <memory>

namespace
{

const QByteArray password = "correct horse battery";
const QString phrase = QStringLiteral("hello world this is a test of the dictation system");

// A browser behind the proxy at `from`, with a form token of its own choosing
// (the cookie and the field only have to agree).
QByteArray signinRequest(const QByteArray &email, const QByteArray &from)
{
    const QByteArray csrf = QByteArray("c").repeated(43);
    return httpRequest("POST", "/auth/login",
        formBody({ { "action", "signin" }, { "email", email }, { "password", password }, { "csrf", csrf } }),
        { "Content-Type: application/x-www-form-urlencoded", "Cookie: tellwind_csrf=" + csrf,
            "X-Forwarded-For: " + from });
}

} // namespace

class TestSigninBurst : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void uploadsCompleteDuringASigninBurst()
    {
        TestDatabase database;
        QStringList storage { "--data-dir", database.dataDir() };
        if (TestDatabase::isPostgres())
            storage += { "--database", database.url() };
        // All of it comes from one address: the per-client upload bound is not what is measured.
        ServerProcess server(storage
            + QStringList {
                "--decoders", "1", "--trusted-proxy", "127.0.0.1", "--max-uploads-per-client", "100" });
        // Ten people, each signing in from five places at once.
        for (int i = 0; i < 10; ++i)
            QVERIFY(
                ServerProcess::addUser(storage, "user" + QByteArray::number(i) + "@example.com", password));
        QVERIFY(server.start());
        const QByteArray speech = spokenPcm(phrase);
        QVERIFY(speech.size() > 16000);

        std::vector<std::unique_ptr<RawExchange>> uploads, signins;
        for (int i = 0; i < 3; ++i)
            uploads.push_back(std::make_unique<RawExchange>(
                server.port(), httpRequest("POST", "/api/speech?sampleRate=16000", speech)));
        for (int i = 0; i < 50; ++i)
            signins.push_back(std::make_unique<RawExchange>(server.port(),
                signinRequest("user" + QByteArray::number(i % 10) + "@example.com",
                    "198.51.100." + QByteArray::number(i + 1))));
        // Written after the sign-ins, answered before the last of them.
        RawExchange health(server.port(), httpRequest("GET", "/healthz"));
        QTRY_VERIFY_WITH_TIMEOUT(health.done(), 60000);
        QVERIFY(!std::all_of(signins.begin(), signins.end(), [](auto &signin) { return signin->done(); }));

        QSet<QString> tokens;
        for (auto &signin : signins) {
            const HttpMessage answer = signin->wait(180000);
            QCOMPARE(answer.status, 303);
            tokens.insert(
                QUrlQuery(QUrl(QString::fromLatin1(answer.header("Location")))).queryItemValue("token"));
        }
        QCOMPARE(tokens.size(), 50);
        for (auto &upload : uploads)
            QCOMPARE(upload->wait().json().value("text").toString(), phrase);

        // No password or token in what the server printed.
        const QString logs = server.logLines().join('\n');
        QVERIFY(!logs.contains(QString::fromLatin1(password)) && !logs.contains(*tokens.cbegin()));
    }
};

QTEST_GUILESS_MAIN(TestSigninBurst)
#include "test_signin_burst.moc"
