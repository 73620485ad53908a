// Which languages the picker marks as not recognisable with the current
// set-up: models on this computer, the server's list, the user's preference.

#include "app/LanguageAvailability.h"
#include "common/Settings.h"
#include "speech/ServerLanguages.h"
#include "support/ScriptedHttpServer.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace
{

const QByteArray serverList = R"({"languages":[{"code":"en-US","engine":"pocketsphinx"},
                                               {"code":"es-ES","engine":"upstream"}]})";

} // namespace

class TestLanguageAvailability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(Settings::filePath()); }

    void marks_data()
    {
        QTest::addColumn<QString>("server"); // "lists", "down", or "unasked"
        QTest::addColumn<bool>("prefersCloud");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("reasonHas");
        const auto row = [](const char *name, const QString &server, bool prefersCloud, const QString &code,
                             const QString &mark, const QString &reasonHas) {
            QTest::addRow("%s", name) << server << prefersCloud << code << mark << reasonHas;
        };

        // German has a model on this computer; English (US) is listed by the server too.
        row("no model, the server lists it", "lists", false, "es-ES", "", "");
        row("no model, the server does not list it", "lists", false, "fr-FR", "Not available",
            "No speech model");
        row("cloud preferred: the device model does not count", "lists", true, "de-DE", "Not available",
            "You chose");
        row("server unreachable, model on the device", "down", false, "de-DE", "", "");
        row("server unreachable, no model", "down", false, "es-ES", "Server unreachable",
            "cannot be reached");
        row("not asked yet: no marks", "unasked", false, "fr-FR", "", "");
    }
    void marks()
    {
        QFETCH(QString, server);
        QFETCH(bool, prefersCloud);
        QFETCH(QString, code);
        QFETCH(QString, mark);
        QFETCH(QString, reasonHas);

        ScriptedHttpServer http;
        http.fallback = ScriptedHttpServer::Reply(200, serverList);
        // A port nothing listens on: a scripted server's, once it is gone.
        Settings::setString(
            "serverBaseURL", server == "down" ? ScriptedHttpServer().baseUrl() : http.baseUrl());
        LanguageAvailability availability([](const QString &language) { return language == "de-DE"; });
        if (server != "unasked") {
            QCoro::waitFor(availability.refreshNow());
            QCOMPARE(availability.server(),
                server == "down" ? LanguageAvailability::Server::unreachable
                                 : LanguageAvailability::Server::reachable);
        }
        QCOMPARE(availability.mark(code, prefersCloud), mark);
        const QString reason = availability.reason(code, prefersCloud);
        QVERIFY2(reasonHas.isEmpty() ? reason.isEmpty() : reason.contains(reasonHas), qPrintable(reason));
    }

    void serverAnswersThatAreNoLanguageList_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::addRow("not found") << 404 << QByteArray("{}") << "The server answered 404 Scripted";
        QTest::addRow("no list") << 200 << QByteArray(R"({"languages":"en-US"})")
                                 << "The server's answer is not a language list";
    }
    void serverAnswersThatAreNoLanguageList()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        ScriptedHttpServer http;
        http.fallback = ScriptedHttpServer::Reply(status, body);
        QNetworkAccessManager network;
        const ServerLanguages answer = QCoro::waitFor(ServerLanguages::fetch(network, http.baseUrl() + "/"));
        QVERIFY(!answer.reached);
        QCOMPARE(answer.error, error);
        QCOMPARE(http.requests.value(0).target, QByteArray("/api/languages"));
    }
};

QTEST_MAIN(TestLanguageAvailability)
#include "test_language_availability.moc"
