#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line. Read before any
// window system is touched, so that --help, --version and the recording
// switches work from a script or a shortcut daemon without a display.
struct CommandLine {
    enum class Outcome {
        run, // start (or hand over to the running Tellwind)
        exitOk, // `text` goes to standard output
        exitError, // `text` goes to standard error
    };
    Outcome outcome = Outcome::run;
    QString text;
    // "toggle-recording", "start-recording", "stop-recording" or empty.
    QString action;
    // tellwind:// links (anything with a scheme) the browser hands over.
    QStringList urls;

    // `arguments` as main() gets them, the program's name first. Needs a
    // QCoreApplication for the help text's translations.
    static CommandLine parse(const QStringList &arguments);
};
