// Wall time to type 1,000 mixed characters into xterm, against the fixed pace
// of 9 ms per character, and how many characters arrived wrong or not at all.
// Needs an X server with XTEST, xterm and xdotool (the test harness).
#include "TypingBench.h"
#include "output/TextInsertionService.h"
#include "platform/Pasteboard.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/typing/xtest/XTestKeyboard.h"
#include "platform/x11/X11WindowSystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace
{

QString xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    constexpr int characters = 1000;
    constexpr double paceMs = 9.0;

    SyntheticKeyLog sentKeys;
    QtPasteboard pasteboard;
    XTestKeyboard keyboard(sentKeys, &pasteboard);
    if (!keyboard.canSynthesizeInput()) {
        std::fprintf(stderr, "bench_typing_pace: no X display with XTEST\n");
        return 1;
    }
    Quiet quiet;
    NullWindowSystem windows;
    NullPasteboard clipboard;
    TextInsertionService service(keyboard, quiet, quiet, quiet, windows, clipboard);
    const std::shared_ptr<TypingScope> scope = service.beginDictation();

    QTemporaryDir folder;
    const QString file = folder.filePath("out.txt");
    QProcess terminal;
    terminal.setWorkingDirectory(folder.path());
    terminal.start("xterm", { "-geometry", "120x40+0+0", "-e", "sh", "-c", "exec cat > out.txt" });
    const QString window
        = xdotool({ "search", "--sync", "--onlyvisible", "--pid", QString::number(terminal.processId()) })
              .split('\n')
              .value(0);
    for (int i = 0; i < 100 && xdotool({ "getwindowfocus" }) != window; ++i) {
        xdotool({ "windowfocus", "--sync", window });
        QThread::msleep(20);
    }
    for (int i = 0; i < 200 && !QFile::exists(file); ++i)
        QThread::msleep(25);

    const QString text = mixedText(characters, asciiWords);
    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(service.insertTranscript(scope, { 1, 0, text, true }));
    const double elapsedMs = double(clock.nsecsElapsed()) / 1e6;

    xdotool({ "key", "ctrl+d", "ctrl+d" });
    terminal.waitForFinished(10000);
    QFile out(file);
    out.open(QIODevice::ReadOnly);
    const QString typed = QString::fromUtf8(out.readAll());

    std::printf("typing_chars: %d\n", characters);
    std::printf("typing_wall_time: %.0f ms\n", elapsedMs);
    std::printf("typing_ms_per_char: %.3f ms\n", elapsedMs / characters);
    std::printf("typing_pace_ratio: %.3f\n", elapsedMs / (characters * paceMs));
    std::printf("typing_chars_lost: %d\n", editDistance(text, typed));
    return 0;
}
