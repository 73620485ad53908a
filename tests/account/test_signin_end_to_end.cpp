// The whole sign-in road with the real programs: tellwind-server on loopback,
// a running tellwind, and a second `tellwind tellwind://callback?token=…`
// started by the desktop's link opener from the registered desktop entry, as
// a browser does.
#include "account/User.h"
#include "server_auth/RawHttp.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <memory>

namespace {

const QString password = QStringLiteral("correct horse battery staple");

QString buildDir()
{
    return qEnvironmentVariable("TELLWIND_BUILD_DIR");
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A child process whose output is collected as it comes.
struct Program {
    QProcess process;
    QByteArray output;

    Program(const QString &executable, const QStringList &arguments, const QProcessEnvironment &environment)
    {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, [this] { output += process.readAll(); });
        process.start(executable, arguments);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }
    bool saw(const QByteArray &text)
    {
        output += process.readAll();
        return output.contains(text);
    }
};

} // namespace

class TestSigninEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    quint16 m_port = 0;

    QString settingsPath() const { return m_dir.filePath("config/Tellwind/Tellwind.conf"); }
    QVariant setting(const QString &key) const { return QSettings(settingsPath(), QSettings::IniFormat).value(key); }

    std::unique_ptr<Program> startServer(const QString &dataDir)
    {
        auto server = std::make_unique<Program>(
            buildDir() + "/tellwind-server",
            QStringList{"--listen", QStringLiteral("127.0.0.1:%1").arg(m_port), "--data-dir", dataDir, "--decoders", "1"},
            m_environment);
        if (!QTest::qWaitFor([&] { return server->saw("listening on"); }, 20000))
            return nullptr;
        return server;
    }

    int addUser(const QString &dataDir, const QString &email, const QByteArray &input, QByteArray *output = nullptr)
    {
        QProcess adding;
        adding.setProcessEnvironment(m_environment);
        adding.setProcessChannelMode(QProcess::MergedChannels);
        adding.start(buildDir() + "/tellwind-server", {"--data-dir", dataDir, "add-user", email});
        adding.write(input);
        adding.closeWriteChannel();
        if (!adding.waitForFinished(30000))
            return -1;
        if (output)
            *output = adding.readAll();
        return adding.exitCode();
    }

    std::unique_ptr<Program> startTellwind(const QStringList &arguments = {})
    {
        return std::make_unique<Program>(buildDir() + "/tellwind", arguments, m_environment);
    }

    static bool instanceRunning()
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered("com.tellwind.Tellwind");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(buildDir() + "/tellwind"));
        m_port = freePort();
        // The programs get their own settings and data; the bus, display and
        // sound server are the harness's.
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        m_environment.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        QDir().mkpath(m_dir.filePath("config/Tellwind"));
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("serverBaseURL", QStringLiteral("http://127.0.0.1:%1").arg(m_port));
        settings.setValue("hasCompletedOnboarding", true);
        settings.sync();
        QProcess registering;
        registering.setProcessEnvironment(m_environment);
        registering.start(qEnvironmentVariable("TELLWIND_SOURCE_DIR") + "/scripts/register-desktop-entry.sh",
                          {buildDir()});
        QVERIFY(registering.waitForFinished(30000));
        QCOMPARE(registering.exitCode(), 0);
        QVERIFY(!instanceRunning());
    }

    void addUserCommandChecksItsInput()
    {
        const QString data = m_dir.filePath("server");
        QByteArray output;
        QCOMPARE(addUser(data, "ada@example.com", password.toUtf8() + "\n", &output), 0);
        QVERIFY(output.contains("ada@example.com"));
        QVERIFY(!output.contains(password.toUtf8()));
        QCOMPARE(addUser(data, "ADA@example.com", "another password\n"), 2);
        QCOMPARE(addUser(data, "not an address", password.toUtf8() + "\n"), 2);
        QCOMPARE(addUser(data, "bob@example.com", "short\n"), 2);
        QCOMPARE(addUser(data, "bob@example.com", ""), 2);
        QCOMPARE(addUser(data, "bob@example.com", "\xff\xfe invalid utf-8\n"), 2);
    }

    void callbackLinkSignsInTheRunningProgram()
    {
        auto server = startServer(m_dir.filePath("server"));
        QVERIFY(server);
        const RawReply signedIn = postForm(m_port, "/auth/login",
                                           formBody({{"email", "ada@example.com"},
                                                     {"password", password.toUtf8()},
                                                     {"action", "signin"}}));
        QCOMPARE(signedIn.status, 303);
        const QUrl callback(QString::fromLatin1(signedIn.header("Location")));
        const QString token = QUrlQuery(callback).queryItemValue("token");
        QVERIFY(!token.isEmpty());

        auto tellwind = startTellwind();
        QVERIFY2(QTest::qWaitFor(instanceRunning, 20000), tellwind->output.constData());

        // The browser opens the link; the handler hands it over and ends.
        auto handler = std::make_unique<Program>("xdg-open", QStringList{callback.toString(QUrl::FullyEncoded)},
                                                 m_environment);
        QVERIFY(handler->process.waitForFinished(15000));
        QCOMPARE(handler->process.exitCode(), 0);

        QVERIFY2(QTest::qWaitFor([&] { return tellwind->saw("✅ [Auth] OAuth callback successful"); }, 15000),
                 tellwind->output.constData());
        QCOMPARE(setting("com.tellwind.authToken").toString(), token);
        const auto user = User::decode(setting("com.tellwind.user").toByteArray());
        QVERIFY(user);
        QCOMPARE(user->email, QString("ada@example.com"));
        QCOMPARE(user->provider, AuthProvider::email);
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(settingsPath()) & others, QFile::Permissions());

        // A cancelled sign-in in the browser changes nothing.
        auto cancelled = startTellwind({"tellwind://callback?error=Sign-in%20was%20cancelled"});
        QVERIFY(cancelled->process.waitForFinished(15000));
        QVERIFY(QTest::qWaitFor([&] { return tellwind->output.count("🔗 [Auth] Received deep link") == 2; }, 10000));
        QTest::qWait(200);
        QCOMPARE(setting("com.tellwind.authToken").toString(), token);

        // Nothing anyone logged gives the session away.
        tellwind->saw("");
        QVERIFY(tellwind->output.contains("token=<redacted>"));
        for (const QByteArray &log : {tellwind->output, handler->output, cancelled->output, server->output})
            QVERIFY2(!log.contains(token.toLatin1()), log.constData());
        QVERIFY(!tellwind->output.contains("Sign-in was cancelled"));
    }

    void nextStartChecksTheSession()
    {
        QVERIFY(QTest::qWaitFor([] { return !instanceRunning(); }, 10000));
        const QString token = setting("com.tellwind.authToken").toString();
        QVERIFY(!token.isEmpty());

        // Server down: the session stays and the log says why.
        {
            auto tellwind = startTellwind();
            QVERIFY(QTest::qWaitFor([&] { return tellwind->saw("⚠️ [Auth] Session verification failed: "); }, 20000));
            QCOMPARE(setting("com.tellwind.authToken").toString(), token);
        }
        QVERIFY(QTest::qWaitFor([] { return !instanceRunning(); }, 10000));

        // A server that does not know the session: signed out, both keys gone.
        auto server = startServer(m_dir.filePath("other-server"));
        QVERIFY(server);
        auto tellwind = startTellwind();
        QVERIFY(QTest::qWaitFor(
            [&] { return !setting("com.tellwind.authToken").isValid() && !setting("com.tellwind.user").isValid(); },
            20000));
    }
};

QTEST_GUILESS_MAIN(TestSigninEndToEnd)
#include "test_signin_end_to_end.moc"
