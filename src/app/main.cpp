#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "app/TerminationSignals.h"
#include "app/Translations.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellwind"));
    QApplication::setOrganizationName(QStringLiteral("Tellwind"));
    QApplication::setDesktopFileName(QStringLiteral("tellwind"));
    // Alerts and the window list show it; the installed theme's icon first.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tellwind"), QIcon(QStringLiteral(":/tellwind/tellwind.svg"))));
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);

    const QStringList urls = SingleInstance::urlsFromArguments(QApplication::arguments());
    SingleInstance instance;
    if (!instance.claim(urls))
        return 0;

    TerminationSignals terminationSignals;
    TellwindApp tellwind(instance);
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &tellwind,
                     [&tellwind] { tellwind.terminate(); });

    tellwind.launch(urls);
    return application.exec();
}
