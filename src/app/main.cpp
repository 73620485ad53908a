#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/TellwindApp.h"
#include "app/TerminationSignals.h"
#include "app/Translations.h"
#include "platform/SessionInfo.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace
{

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tellwind"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tellwind"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLWIND_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    CommandLine commandLine;
    // Everything a command line can settle without a window: the GUI's
    // application object would abort where no display answers. A plain start
    // skips it: an application object made and gone before the GUI's keeps
    // the GUI's accessibility bridge from registering.
    if (argc > 1) {
        QCoreApplication core(argc, argv);
        nameApplication();
        installTranslations(core);
        commandLine = CommandLine::parse(QCoreApplication::arguments());
        if (commandLine.outcome != CommandLine::Outcome::run) {
            const bool ok = commandLine.outcome == CommandLine::Outcome::exitOk;
            std::fputs(commandLine.text.toLocal8Bit().constData(), ok ? stdout : stderr);
            return ok ? 0 : 1;
        }
        if (SingleInstance::handOffToRunning(commandLine.urls, commandLine.action))
            return 0;
        // Nothing is recording when nothing runs: there is nothing to stop.
        if (commandLine.action == QLatin1String("stop-recording"))
            return 0;
    }

    const bool choseXwayland = SessionInfo::preferXwaylandForWindows();
    QApplication application(argc, argv);
    if (choseXwayland)
        qunsetenv("QT_QPA_PLATFORM");
    nameApplication();
    QApplication::setDesktopFileName(QStringLiteral("tellwind"));
    // Alerts and the window list show it; the installed theme's icon first.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tellwind"), QIcon(QStringLiteral(":/tellwind/tellwind.svg"))));
    QApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);

    const QStringList &urls = commandLine.urls;
    const QString &action = commandLine.action;
    SingleInstance instance;
    if (!instance.claim(urls, action))
        return 0;
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
