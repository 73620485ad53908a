// Characters per second through the real desktop's RemoteDesktop portal, the
// typing service wired as the program wires it, into a native terminal; and
// the share of characters that arrived exactly, for text inside a US layout
// and for text with characters outside it. Runs inside
// tests/desktops/desktop-session.sh (gnome or kde).
#include "DesktopTarget.h"
#include "TypingBench.h"
#include "app/CompositionRoot.h"
#include "common/Graphemes.h"
#include "output/TextInsertionService.h"
#include "platform/SessionInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace
{

// The typed text must not end a line early: the reader keeps every
// character, and a Return is a character too.
void measure(TextInsertionService &service, const QString &name, const QString &text, const QString &file)
{
    DesktopTarget target(file);
    if (!target.isReady() || !target.settle(service)) {
        std::fprintf(stderr, "bench_desktop_typing: the terminal did not start\n");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    target.dictate(service, { text });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const QString received = target.received(text);
    const qsizetype graphemes = Graphemes::split(text).size();
    const int wrong = editDistance(text, received);
    const QByteArray prefix = (desktop + QLatin1Char('_') + name).toLatin1();
    std::printf("%s_chars_per_second: %.0f\n", prefix.constData(), double(graphemes) / seconds);
    std::printf("%s_exact_share: %.3f\n", prefix.constData(),
        1.0 - double(qMin<qsizetype>(wrong, graphemes)) / double(graphemes));
}

} // namespace

int main(int argc, char **argv)
{
    // The program's own choice: its clipboard through Xwayland where there is one.
    SessionInfo::preferXwaylandForWindows();
    QApplication app(argc, argv);
    if (desktop.isEmpty()) {
        std::fprintf(stderr, "bench_desktop_typing: run inside tests/desktops/desktop-session.sh\n");
        return 1;
    }
    CompositionRoot root;
    TextInsertionService &service = root.textInsertion();
    service.isAccessibilityTrusted(); // opens the portal session, as a recording start does
    if (!onKde)
        (void)QTest::qWaitFor(
            [] { return QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/dialogs-answered"); },
            30000);
    QTemporaryDir folder;
    const QStringList ascii { "the", "Quick", "brown", "fox,", "42", "jumps;", "(over)", "a+b=c", "50%",
        "@home" };
    QString plain = mixedText(500, ascii);
    plain.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString mixed = mixedText(500);
    mixed.replace(QLatin1Char('\n'), QLatin1Char(' '));
    measure(service, QStringLiteral("layout"), plain, folder.filePath("layout"));
    measure(service, QStringLiteral("mixed"), mixed, folder.filePath("mixed"));
    return 0;
}
