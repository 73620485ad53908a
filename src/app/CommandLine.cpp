#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    QCommandLineParser parser;
    parser.setApplicationDescription(tr("Dictate text into any application."));
    // Qt's own options are single-dash words (-platform xcb); read the same
    // way, they pass through to the GUI rather than fail as unknown letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, tr("Show this help and exit."));
    const QCommandLineOption version(
        { QStringLiteral("v"), QStringLiteral("version") }, tr("Show the version and exit."));
    const QCommandLineOption toggle(
        QStringLiteral("toggle"), tr("Start a dictation, or stop the one in progress."));
    const QCommandLineOption start(QStringLiteral("start"), tr("Start a dictation."));
    const QCommandLineOption stop(QStringLiteral("stop"), tr("Stop the dictation in progress."));
    QList<QCommandLineOption> qtOptions;
    for (const char *name : { "platform", "display", "style", "platformtheme", "qwindowgeometry" })
        qtOptions.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (QCommandLineOption &option : qtOptions)
        option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({ help, version, toggle, start, stop });
    parser.addOptions(qtOptions);
    parser.addPositionalArgument(QStringLiteral("url"),
        tr("A tellwind:// link to open, as a sign-in hands it over."), QStringLiteral("[url...]"));

    const QString program = arguments.value(0, QStringLiteral("tellwind"));
    if (!parser.parse(arguments)) {
        line.outcome = Outcome::exitError;
        line.text
            = QStringLiteral("%1: %2\n%3\n")
                  .arg(program, parser.errorText(), tr("Try '%1 --help' for more information.").arg(program));
        return line;
    }
    if (parser.isSet(help)) {
        line.outcome = Outcome::exitOk;
        line.text = parser.helpText();
        return line;
    }
    if (parser.isSet(version)) {
        line.outcome = Outcome::exitOk;
        line.text = QStringLiteral("tellwind %1\n").arg(QCoreApplication::applicationVersion());
        return line;
    }
    const int switches = int(parser.isSet(toggle)) + int(parser.isSet(start)) + int(parser.isSet(stop));
    if (switches > 1) {
        line.outcome = Outcome::exitError;
        line.text
            = QStringLiteral("%1: %2\n").arg(program, tr("--toggle, --start and --stop exclude each other."));
        return line;
    }
    if (parser.isSet(toggle))
        line.action = QStringLiteral("toggle-recording");
    else if (parser.isSet(start))
        line.action = QStringLiteral("start-recording");
    else if (parser.isSet(stop))
        line.action = QStringLiteral("stop-recording");
    for (const QString &argument : parser.positionalArguments()) {
        const QUrl url(argument, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty()) {
            line.outcome = Outcome::exitError;
            line.text = QStringLiteral("%1: %2\n").arg(program, tr("Not a link: %1").arg(argument));
            return line;
        }
        line.urls << argument;
    }
    return line;
}
