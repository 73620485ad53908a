// A stand-in for the program around its single-instance service: the first
// start prints "READY" and then every request it receives; a later start
// hands its URLs over and ends.

#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "common/Log.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList urls = SingleInstance::urlsFromArguments(QCoreApplication::arguments());
    SingleInstance instance;
    if (!instance.claim(urls))
        return 0;
    instance.setUrlHandler([](const QString &url) { logLine(QStringLiteral("URL ") + url); });
    instance.setActivateHandler([] { logLine(QStringLiteral("ACTIVATE")); });
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &application,
                     [](int number) {
                         logLine(QStringLiteral("SIGNAL ") + QString::number(number));
                         QCoreApplication::quit();
                     });
    for (const QString &url : urls)
        logLine(QStringLiteral("URL ") + url);
    logLine(QStringLiteral("READY"));
    return application.exec();
}
