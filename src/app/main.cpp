#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "app/TerminationSignals.h"
#include "app/Translations.h"
#include "platform/SessionInfo.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    const bool choseXwayland = SessionInfo::preferXwaylandForWindows();
    QApplication application(argc, argv);
    if (choseXwayland)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Tellwind"));
    QApplication::setOrganizationName(QStringLiteral("Tellwind"));
    QApplication::setDesktopFileName(QStringLiteral("tellwind"));
    // Alerts and the window list show it; the installed theme's icon first.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tellwind"), QIcon(QStringLiteral(":/tellwind/tellwind.svg"))));
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);

    const QStringList urls = SingleInstance::urlsFromArguments(QApplication::arguments());
    const QString action = SingleInstance::actionFromArguments(QApplication::arguments());
    SingleInstance instance;
    if (!instance.claim(urls, action))
        return 0;
    // Nothing is recording when nothing runs: there is nothing to stop.
    if (action == QLatin1String("stop-recording"))
        return 0;
    // The first start with --toggle or --start begins recording once it is up.
    if (!action.isEmpty())
        instance.receiveAction(QStringLiteral("start-recording"));

    TerminationSignals terminationSignals;
    TellwindApp tellwind(instance);
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &tellwind,
        [&tellwind] { tellwind.terminate(); });

    tellwind.launch(urls);
    return application.exec();
}
