// The focused window as GTK windows tell it over the accessibility bus (in sway, or on X with a null window
// system underneath), and typing that stays out of the window the focus moved to.
#include "platform/atspi/AtspiWindowSystem.h"
#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"
#include "platform/x11/X11WindowSystem.h"
#include "support/TerminalTarget.h"
#include "support/TypingRig.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QStandardPaths>

#include <qcoro/qcorotask.h>

#include <memory>

namespace
{

bool onSway()
{
    return !qEnvironmentVariableIsEmpty("SWAYSOCK");
}

// A window found by its title, given the keyboard focus by sway or the X server.
bool focusTitled(const QString &title)
{
    if (!onSway())
        return !focusWindow({ "--name", '^' + title + '$' }).isEmpty();
    const QStringList focus { QString("[title=\"^%1$\"] focus").arg(title) };
    return QTest::qWaitFor([&focus] { return QProcess::execute("swaymsg", focus) == 0; }, 15000);
}

// A GTK window with an entry, accessible, or a terminal, which has no accessibility at all.
std::unique_ptr<QProcess> start(const QString &title, bool terminal = false)
{
    auto window = std::make_unique<QProcess>();
    if (!terminal)
        window->start("zenity", { "--entry", "--title", title });
    else if (onSway())
        window->start("foot", { "--title=" + title, "sleep", "120" });
    else
        window->start("xterm", { "-title", title, "-e", "sleep", "120" });
    return window;
}

} // namespace

class TestFocusAtspi : public QObject
{
    Q_OBJECT

    QProcess m_launcher;
    std::optional<QDBusConnection> m_bus;
    // A seat without a keyboard gives no window the focus; a headless sway has none of its own.
    std::unique_ptr<WaylandVirtualKeyboard> m_keyboard;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (qEnvironmentVariableIsEmpty("TELLWIND_HARNESS"))
            QSKIP("needs the harness's display and session bus");
        if (onSway()) {
            m_keyboard = std::make_unique<WaylandVirtualKeyboard>(qEnvironmentVariable("WAYLAND_DISPLAY"));
            QVERIFY(m_keyboard->canSynthesizeInput());
        }
        m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), { "--launch-immediately" });
        QTRY_VERIFY_WITH_TIMEOUT(
            (m_bus = AtspiWindowSystem::connectToAccessibilityBus(QDBusConnection::sessionBus(), 1000)),
            15000);
    }
    void cleanupTestCase()
    {
        m_launcher.terminate();
        m_launcher.waitForFinished(5000);
    }

    void focusFollowsTheAccessibleWindows()
    {
        AtspiWindowSystem windows(std::make_unique<NullWindowSystem>(), *m_bus);
        TypingRig rig(&windows);

        auto first = start("FocusFirst");
        auto second = start("FocusSecond");
        QVERIFY(focusTitled("FocusFirst"));
        QTRY_VERIFY_WITH_TIMEOUT(windows.focusedWindow() != 0, 15000);
        const WindowSystem::WindowId firstId = windows.focusedWindow();

        // The user clicks into the second window before the dictation's last revision: that stays out of it.
        auto dictation = rig.service.beginDictation();
        QCoro::waitFor(rig.service.insertTranscript(dictation, { 1, 0, "hello", false }));
        QVERIFY(focusTitled("FocusSecond"));
        QTRY_VERIFY_WITH_TIMEOUT(windows.focusedWindow() != firstId && windows.focusedWindow() != 0, 15000);
        const WindowSystem::WindowId secondId = windows.focusedWindow();
        QCoro::waitFor(rig.service.insertTranscript(dictation, { 1, 0, "hello world", true }));
        QCOMPARE(rig.field.keys, QStringLiteral("hello"));
        QVERIFY(dictation->heldBack);

        // Back in the first window a new dictation types (sway may hand the focus back once: ask again).
        QTRY_VERIFY_WITH_TIMEOUT(focusTitled("FocusFirst") && windows.focusedWindow() == firstId, 15000);
        auto next = rig.service.beginDictation();
        QCoro::waitFor(rig.service.insertTranscript(next, { 2, 0, "again", true }));
        QCOMPARE(rig.field.keys, QStringLiteral("hello. again"));

        // A window that does not tell leaves the focus unknown, not in the window the user left.
        auto terminal = start("FocusPlain", true);
        QVERIFY(focusTitled("FocusPlain"));
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), WindowSystem::WindowId(0), 15000);

        // So does an application that ends while its window is active (the other ends first).
        first->kill();
        first->waitForFinished();
        QVERIFY(focusTitled("FocusSecond"));
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), secondId, 15000);
        second->kill();
        second->waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), WindowSystem::WindowId(0), 15000);
        terminal->kill();
        terminal->waitForFinished();
    }
};

QTEST_MAIN(TestFocusAtspi)
#include "test_focus_atspi.moc"
