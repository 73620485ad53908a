// The whole sign-in road: tellwind-server, a running tellwind, a second `tellwind
// tellwind://callback?token=…` as the browser starts it, and GNOME Keyring on the test bus.
#include "account/User.h"
#include "support/RawHttp.h"
#include "support/ServerProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSettings>
#include <QUrlQuery>

class TestSigninEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_keyring; // not a child: stopAll() leaves it running

    static QString keyringToken()
    {
        QProcess lookup;
        lookup.start("secret-tool", { "lookup", "server", "Tellwind", "user", "com.tellwind.authToken" });
        return lookup.waitForFinished(10000) ? QString::fromUtf8(lookup.readAllStandardOutput()) : QString();
    }
    static bool onBus(const char *name)
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
    }
    static bool keyringServes() { return onBus("org.freedesktop.secrets"); }
    static bool instanceRunning() { return onBus("com.tellwind.Tellwind"); }

    // Tellwind, its output going to the named log file, read back whole.
    QProcess *start(const QString &log, const QStringList &arguments = {})
    {
        auto *process = new QProcess(this);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(m_dir.filePath(log), QIODevice::Append);
        process->start(qEnvironmentVariable("TELLWIND_BUILD_DIR") + "/tellwind", arguments);
        return process;
    }
    QByteArray log(const QString &name) const
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool logged(const QString &name, const QByteArray &text)
    {
        return QTest::qWaitFor([&] { return log(name).contains(text); }, 20000);
    }
    QString settingsPath() const { return m_dir.filePath("config/Tellwind/Tellwind.conf"); }
    QVariant setting(const QString &key) const
    {
        return QSettings(settingsPath(), QSettings::IniFormat).value(key);
    }

    bool stopAll()
    {
        for (QProcess *process : findChildren<QProcess *>()) {
            process->terminate();
            process->waitForFinished(5000);
        }
        return QTest::qWaitFor([] { return !instanceRunning(); }, 10000);
    }

private slots:
    void cleanupTestCase()
    {
        stopAll();
        m_keyring.terminate();
        m_keyring.waitForFinished(5000);
    }

    void callbackLinkSignsInTheRunningProgramAndTheNextStartChecks()
    {
        // Settings and data of their own; the bus, display and sound server are the harness's.
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());

        // An administrator adds the account; the password is read, never shown.
        ServerProcess server({ "--decoders", "1" });
        const QByteArray password = "correct horse battery staple";
        QProcess adding;
        adding.start(
            ServerProcess::binary(), { "--data-dir", server.dataDir(), "add-user", "ada@example.com" });
        adding.write(password + "\n");
        adding.closeWriteChannel();
        QVERIFY(adding.waitForFinished(30000) && adding.exitCode() == 0);
        QVERIFY(!adding.readAll().contains(password));
        QVERIFY(server.start());
        // As if the program had opened the sign-in page a minute ago.
        const QByteArray state = "c3RhcnRlZC1ieS10aGUtcHJvZ3JhbS1pdHNlbGY";
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("serverBaseURL", server.baseUrl());
        settings.setValue("hasCompletedOnboarding", true);
        settings.setValue("com.tellwind.signInStates",
            "{\"" + state + "\":" + QByteArray::number(QDateTime::currentMSecsSinceEpoch() - 60000) + "}");
        settings.sync();
        // The browser: the page hands out the form token in a cookie.
        const HttpMessage page = rawRequest(server.port(), "GET", "/auth/login?state=" + state);
        const QByteArray csrfCookie = page.header("Set-Cookie").split(';').first();
        const HttpMessage signedIn = rawRequest(server.port(), "POST", "/auth/login",
            formBody({ { "email", "ada@example.com" }, { "password", password }, { "action", "signin" },
                { "state", state }, { "csrf", csrfCookie.mid(csrfCookie.indexOf('=') + 1) } }),
            { "Content-Type: application/x-www-form-urlencoded", "Cookie: " + csrfCookie });
        QCOMPARE(signedIn.status, 303);
        const QUrl callback(QString::fromLatin1(signedIn.header("Location")));
        const QString token = QUrlQuery(callback).queryItemValue("token");
        QVERIFY(!token.isEmpty());
        QCOMPARE(QUrlQuery(callback).queryItemValue("state"), QString::fromLatin1(state));

        // A keyring as a desktop login leaves it: running and unlocked.
        QVERIFY(!keyringServes());
        m_keyring.setStandardOutputFile(m_dir.filePath("keyring.log"));
        m_keyring.start("env",
            { "HOME=" + m_dir.filePath("keyring-home"),
                "XDG_DATA_HOME=" + m_dir.filePath("keyring-home/data"), "gnome-keyring-daemon",
                "--foreground", "--unlock", "--components=secrets" });
        m_keyring.write("keyring password");
        m_keyring.closeWriteChannel();
        QVERIFY2(QTest::qWaitFor(keyringServes, 20000), log("keyring.log").constData());

        start("tellwind.log");
        QVERIFY2(QTest::qWaitFor(instanceRunning, 20000), log("tellwind.log").constData());

        // The second instance hands the link over and ends.
        QProcess *second = start("others.log", { callback.toString(QUrl::FullyEncoded) });
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY2(
            logged("tellwind.log", "✅ [Auth] OAuth callback successful"), log("tellwind.log").constData());
        QTRY_COMPARE_WITH_TIMEOUT(keyringToken(), token, 10000);
        QVERIFY(!setting("com.tellwind.authToken").isValid());
        QCOMPARE(User::decode(setting("com.tellwind.user").toByteArray()).value_or(User()).email,
            "ada@example.com");
        QCOMPARE(QFile::permissions(settingsPath()) & 0x0077, QFile::Permissions());

        // Nothing anyone logged gives the session away.
        QVERIFY(log("tellwind.log").contains("token=<redacted>"));
        for (const QByteArray &text :
            { log("tellwind.log"), log("others.log"), server.logLines().join('\n').toUtf8() })
            QVERIFY2(!text.contains(token.toLatin1()), text.constData());

        // An old version's token moves into the keyring; with the server down the session stays.
        QVERIFY(stopAll());
        server.stop();
        QProcess::execute("secret-tool", { "clear", "server", "Tellwind", "user", "com.tellwind.authToken" });
        QVERIFY(keyringToken().isEmpty());
        QSettings(settingsPath(), QSettings::IniFormat).setValue("com.tellwind.authToken", token);
        start("next.log");
        QVERIFY(logged("next.log", "⚠️ [Auth] Session verification failed: "));
        QCOMPARE(keyringToken(), token);
        QVERIFY(!setting("com.tellwind.authToken").isValid());
        QVERIFY(stopAll());

        // A server that does not know the session: signed out, both keys gone.
        ServerProcess fresh;
        fresh.listen = QUrl(setting("serverBaseURL").toString()).authority();
        QVERIFY(fresh.start());
        start("next.log");
        QVERIFY(QTest::qWaitFor(
            [&] { return keyringToken().isEmpty() && !setting("com.tellwind.user").isValid(); }, 20000));
    }
};

QTEST_GUILESS_MAIN(TestSigninEndToEnd)
#include "test_signin_end_to_end.moc"
