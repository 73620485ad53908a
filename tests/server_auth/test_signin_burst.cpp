// The real server under a burst of sign-ins while speech is being uploaded:
// the password checks queue on their own threads and every upload still gets
// its transcript. Also the program's sign-out and a second process sharing
// the accounts, through the real binary and its command line.
#include "TestDatabase.h"
#include "support/ServerProcess.h"

#include <QStandardPaths>
#include <QUrlQuery>

#include <memory>

namespace
{

const QByteArray password = "correct horse battery";
const QByteArray csrf = QByteArray("c").repeated(43);

bool addUser(const QStringList &storage, const QByteArray &email)
{
    QProcess adding;
    adding.start(ServerProcess::binary(), storage + QStringList { "add-user", QString::fromLatin1(email) });
    adding.write(password + "\n");
    adding.closeWriteChannel();
    return adding.waitForFinished(60000) && adding.exitCode() == 0;
}

// A browser behind the proxy at `from`, with a form token of its own choosing
// (the cookie and the field only have to agree).
QByteArray signinRequest(const QByteArray &email, const QByteArray &from)
{
    const QByteArray body = "action=signin&email=" + email.toPercentEncoding()
        + "&password=" + password.toPercentEncoding() + "&csrf=" + csrf;
    return "POST /auth/login HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nCookie: "
           "tellwind_csrf="
        + csrf + "\r\nX-Forwarded-For: " + from + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

QString tokenOf(const RawHttpExchange &exchange)
{
    const QByteArray &received = exchange.received;
    const qsizetype start = received.indexOf("Location: ");
    const QUrl location(
        QString::fromLatin1(received.mid(start + 10, received.indexOf('\r', start) - start - 10)));
    return start < 0 ? QString() : QUrlQuery(location).queryItemValue("token");
}

} // namespace

class TestSigninBurst : public QObject
{
    Q_OBJECT

private slots:
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
            QVERIFY(addUser(storage, "user" + QByteArray::number(i) + "@example.com"));
        QVERIFY(server.start());
        const QByteArray speech = spokenPcm("hello world this is a test of the dictation system");
        QVERIFY(speech.size() > 16000);

        std::vector<std::unique_ptr<RawHttpExchange>> uploads, signins;
        for (int i = 0; i < 3; ++i)
            uploads.push_back(std::make_unique<RawHttpExchange>(
                server.port(), RawHttpExchange::request("POST", "/api/speech?sampleRate=16000", speech)));
        for (int i = 0; i < 50; ++i)
            signins.push_back(std::make_unique<RawHttpExchange>(server.port(),
                signinRequest("user" + QByteArray::number(i % 10) + "@example.com",
                    "198.51.100." + QByteArray::number(i + 1))));
        const auto allDone = [](auto &exchanges) {
            return std::all_of(
                exchanges.begin(), exchanges.end(), [](auto &exchange) { return exchange->done(); });
        };
        QVERIFY(QTest::qWaitFor([&] { return allDone(uploads) && allDone(signins); }, 180000));
        for (auto &upload : uploads) {
            QCOMPARE(upload->status(), 200);
            QCOMPARE(upload->json().value("text").toString(),
                QString("hello world this is a test of the dictation system"));
        }
        QSet<QString> tokens;
        for (auto &signin : signins) {
            QCOMPARE(signin->status(), 303);
            tokens.insert(tokenOf(*signin));
        }
        QCOMPARE(tokens.size(), 50);

        // A second server on the same accounts knows every one of them, and
        // the program's sign-out through it ends the session on the first.
        ServerProcess second(storage + QStringList { "--decoders", "1" });
        QVERIFY(second.start());
        const QString token = *tokens.cbegin();
        const auto bearerGet = [&token](quint16 port, const QByteArray &path) {
            return RawHttpExchange(
                port, "GET " + path + " HTTP/1.1\r\nAuthorization: Bearer " + token.toLatin1() + "\r\n\r\n")
                .wait()
                .status();
        };
        QCOMPARE(bearerGet(second.port(), "/api/auth/me"), 200);
        QCOMPARE(bearerGet(second.port(), "/api/auth/verify"), 200);
        QCOMPARE(RawHttpExchange(second.port(),
                     "POST /api/auth/logout HTTP/1.1\r\nContent-Length: 0\r\nAuthorization: Bearer "
                         + token.toLatin1() + "\r\n\r\n")
                     .wait()
                     .status(),
            200);
        QCOMPARE(bearerGet(server.port(), "/api/auth/me"), 401);

        // No password or token in what either server printed.
        const QString logs = server.logLines().join('\n') + second.logLines().join('\n');
        QVERIFY(!logs.contains(QString::fromLatin1(password)) && !logs.contains(token));
    }
};

QTEST_GUILESS_MAIN(TestSigninBurst)
#include "test_signin_burst.moc"
