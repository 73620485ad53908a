// Wall time to type 1,000 mixed characters into foot through the compositor's
// virtual keyboard, against the fixed pace of 9 ms per character, and how
// many arrived wrong or not at all. Runs inside tests/wayland/sway-session.sh.
#include "TypingBench.h"
#include "common/Graphemes.h"
#include "output/TextInsertionService.h"
#include "platform/Pasteboard.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"
#include "platform/x11/X11WindowSystem.h"
#include "wayland/FootTarget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    constexpr int characters = 1000;
    constexpr double paceMs = 9.0;

    QtPasteboard pasteboard;
    WaylandVirtualKeyboard keyboard(qEnvironmentVariable("WAYLAND_DISPLAY"), &pasteboard);
    if (!keyboard.canSynthesizeInput()) {
        std::fprintf(stderr, "bench_wayland_typing: no compositor with a virtual keyboard\n");
        return 1;
    }
    Quiet quiet;
    NullWindowSystem windows;
    NullPasteboard clipboard;
    TextInsertionService service(keyboard, quiet, quiet, quiet, windows, clipboard);
    const std::shared_ptr<TypingScope> scope = service.beginDictation();

    QTemporaryDir folder;
    FootTarget target(folder.filePath("out.txt"));
    if (!target.isReady()) {
        std::fprintf(stderr, "bench_wayland_typing: foot did not start\n");
        return 1;
    }
    const QString text = mixedText(characters);
    const qsizetype graphemes = Graphemes::split(text).size();
    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(service.insertTranscript(scope, { 1, 0, text, true }));
    const double elapsedMs = double(clock.nsecsElapsed()) / 1e6;
    const QString typed = target.finish();

    std::printf("wayland_typing_chars: %lld\n", static_cast<long long>(graphemes));
    std::printf("wayland_typing_wall_time: %.0f ms\n", elapsedMs);
    std::printf("wayland_typing_pace_ratio: %.3f\n", elapsedMs / (double(graphemes) * paceMs));
    std::printf("wayland_typing_chars_lost: %d\n", editDistance(text, typed));
    return 0;
}
