#include "TellwindServer.h"

#include <QTemporaryDir>
#include <QTest>

class TestSpeechOptions : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    std::optional<TellwindServer::Options> parse(const QStringList &arguments, QString *error = nullptr)
    {
        QString reason;
        return TellwindServer::parseArguments(
            QStringList { QStringLiteral("tellwind-server") } + arguments, error ? error : &reason);
    }

private Q_SLOTS:
    void refusesBadValues_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::addRow("no models kept")
            << QStringList { "--max-models", "0" } << "--max-models wants a number from 1 to 1000";
        QTest::addRow("concurrency not a number") << QStringList { "--upstream-concurrency", "many" }
                                                  << "--upstream-concurrency wants a number from 1 to 256";
        QTest::addRow("upstream not HTTP") << QStringList { "--upstream", "ftp://127.0.0.1/v1" }
                                           << "--upstream wants an http or https address, for example "
                                              "http://127.0.0.1:8080/v1";
        QTest::addRow("upstream without host") << QStringList { "--upstream", "v1" }
                                               << "--upstream wants an http or https address, for example "
                                                  "http://127.0.0.1:8080/v1";
        QTest::addRow("no timeout") << QStringList { "--upstream-timeout", "0" }
                                    << "--upstream-timeout wants a number of seconds";
        QTest::addRow("blank model") << QStringList { "--upstream-model", " " }
                                     << "--upstream-model wants a name";
        QTest::addRow("key on the command line")
            << QStringList { "--upstream-key", "sk-1" } << "Unknown option 'upstream-key'.";
    }

    void refusesBadValues()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QString reason;
        QVERIFY(!parse(arguments, &reason));
        QCOMPARE(reason, error);
    }

    // The file's first line, else the environment, which is then cleared so
    // that nothing the server starts inherits the key.
    void readsTheKey()
    {
        QFile file(m_dir.filePath(QStringLiteral("key")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("  sk-from-file  \nsecond line\n");
        file.close();

        qputenv(SpeechOptions::keyVariable, "sk-from-environment");
        auto options = parse({ "--upstream-key-file", file.fileName() });
        QVERIFY(options);
        QCOMPARE(options->speech.upstreamKey, QByteArray("sk-from-file"));
        QVERIFY(!qEnvironmentVariableIsSet(SpeechOptions::keyVariable));

        qputenv(SpeechOptions::keyVariable, "sk-from-environment");
        options = parse({});
        QVERIFY(options);
        QCOMPARE(options->speech.upstreamKey, QByteArray("sk-from-environment"));
        QVERIFY(!qEnvironmentVariableIsSet(SpeechOptions::keyVariable));

        QString error;
        QVERIFY(!parse({ "--upstream-key-file", m_dir.filePath(QStringLiteral("missing")) }, &error));
        QVERIFY(error.startsWith(QStringLiteral("cannot read the upstream key file")));
    }
};

QTEST_GUILESS_MAIN(TestSpeechOptions)
#include "test_speech_options.moc"
