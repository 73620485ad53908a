#include "TellwindServer.h"

#include <QTemporaryDir>
#include <QTest>

namespace
{

std::optional<TellwindServer::Options> parse(const QStringList &arguments, QString *error = nullptr)
{
    QString reason;
    return TellwindServer::parseArguments(
        QStringList { "tellwind-server" } + arguments, error ? error : &reason);
}

} // namespace

// Secrets come from files or the environment, never from the command line,
// and never show up in what the server says.
class TestServerOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusesSecretsOnTheCommandLine()
    {
        for (const QStringList &arguments :
            { QStringList { "--database", "postgresql://tw:secret@db/accounts" },
                QStringList { "--upstream-key", "sk-secret" } }) {
            QString reason;
            QVERIFY(!parse(arguments, &reason));
            QVERIFY2(!reason.isEmpty() && !reason.contains("secret"), qPrintable(reason));
        }
    }

    // The file's first line, else the environment; the upstream key's
    // variable is cleared so that nothing the server starts inherits it.
    void readsSecretsFromAFileOrTheEnvironment()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("pw"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("s3cr3t pass\r\nline\n") > 0);
        file.close();
        const QStringList database { "--database", "postgresql://tw@h/d" };
        qputenv("PGPASSWORD", "from the environment");
        QCOMPARE(parse(database + QStringList { "--database-password-file", file.fileName() })
                     ->accounts.databasePassword,
            QString("s3cr3t pass"));
        QCOMPARE(parse(database)->accounts.databasePassword, QString("from the environment"));
        qunsetenv("PGPASSWORD");

        qputenv(SpeechOptions::keyVariable, "sk-from-environment");
        QCOMPARE(parse({})->speech.upstreamKey, QByteArray("sk-from-environment"));
        QVERIFY(!qEnvironmentVariableIsSet(SpeechOptions::keyVariable));
    }
};

QTEST_GUILESS_MAIN(TestServerOptions)
#include "test_server_options.moc"
