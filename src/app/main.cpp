#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "app/TerminationSignals.h"
#include "app/Translations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellwind"));
    QApplication::setOrganizationName(QStringLiteral("Tellwind"));
    QApplication::setDesktopFileName(QStringLiteral("tellwind"));
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);

    const QStringList urls = SingleInstance::urlsFromArguments(QApplication::arguments());
    SingleInstance instance;
    if (!instance.claim(urls))
        return 0;

    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &application,
                     &QApplication::quit);

    TellwindApp tellwind(instance);
    tellwind.launch(urls);
    return application.exec();
}
