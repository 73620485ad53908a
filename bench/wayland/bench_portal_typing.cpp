// Characters per second through the RemoteDesktop portal (a scripted portal
// service on the session bus), and how many keys it did not receive.
#include "TypingBench.h"
#include "common/Graphemes.h"
#include "output/TextInsertionService.h"
#include "platform/Pasteboard.h"
#include "platform/typing/remotedesktop/RemoteDesktopKeyboard.h"
#include "platform/x11/X11WindowSystem.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace
{

int keysReceived()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.tellwind.Test", "Keysyms"));
    return int(reply.arguments().value(0).toStringList().size());
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    constexpr int characters = 1000;
    QProcess portal;
    const QString script
        = qEnvironmentVariable("TELLWIND_SOURCE_DIR", ".") + "/tests/wayland/scripted_portal.py";
    portal.start(script);
    if (!portal.waitForReadyRead(10000) || portal.readLine().trimmed() != "ready") {
        std::fprintf(stderr, "bench_portal_typing: the scripted portal did not start\n");
        return 1;
    }

    RemoteDesktopKeyboard keyboard;
    Quiet quiet;
    NullWindowSystem windows;
    NullPasteboard clipboard;
    TextInsertionService service(keyboard, quiet, quiet, quiet, windows, clipboard);
    const std::shared_ptr<TypingScope> scope = service.beginDictation();
    keyboard.canSynthesizeInput(); // a recording starts: the session opens
    // What every layout types: the rest would be pasted, which is another
    // measurement.
    const QString text = mixedText(characters, asciiWords);
    const QStringList graphemes = Graphemes::split(text);

    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(service.insertTranscript(scope, { 1, 0, text, true }));
    const double elapsedS = double(clock.nsecsElapsed()) / 1e9;

    const int expectedKeys = int(graphemes.size()) * 2;
    std::printf("portal_typing_chars: %lld\n", static_cast<long long>(graphemes.size()));
    std::printf("portal_typing_chars_per_second: %.0f\n", double(graphemes.size()) / elapsedS);
    std::printf("portal_typing_keys_lost: %d\n", expectedKeys - keysReceived() + keyboard.failedCalls());
    portal.closeWriteChannel();
    portal.waitForFinished(3000);
    return 0;
}
