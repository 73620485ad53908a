// Which window has the focus, as the applications tell it over the
// accessibility bus where a Wayland compositor will not say: the real bus and
// real GTK windows on the harness's display, the X server asked nothing (a
// null window system underneath, as on Wayland without Xwayland), and the
// typing that must stay out of the window the focus moved to.
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeTypingBackend.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/atspi/AtspiWindowSystem.h"
#include "platform/x11/X11WindowSystem.h"
#include "support/TerminalTarget.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <memory>

namespace
{

// A GTK window with an entry, on screen; it announces itself on the accessibility bus.
std::unique_ptr<QProcess> startGtkWindow(const QString &title)
{
    auto window = std::make_unique<QProcess>();
    window->start(QStringLiteral("zenity"), { QStringLiteral("--entry"), QStringLiteral("--title"), title });
    return window;
}

} // namespace

class TestFocusAtspi : public QObject
{
    Q_OBJECT

    QProcess m_launcher;
    std::optional<QDBusConnection> m_bus;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (qEnvironmentVariableIsEmpty("TELLWIND_HARNESS"))
            QSKIP("needs the harness's display and session bus");
        // As a desktop session starts it, on the harness's session bus.
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
        FakeTypingBackend field;
        FakePasteboard pasteboard;
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        FakeApplicationBundle bundle;
        TextInsertionService service(field, alerts, workspace, bundle, windows, pasteboard);

        auto first = startGtkWindow(QStringLiteral("FocusFirst"));
        auto second = startGtkWindow(QStringLiteral("FocusSecond"));
        QVERIFY(!focusWindow({ "--name", "^FocusFirst$" }).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(windows.focusedWindow() != 0, 15000);
        const WindowSystem::WindowId firstId = windows.focusedWindow();

        // A dictation types into the first window; the user clicks into the
        // second before its last revision: that stays out of it, though no
        // later dictation began (with the compositor alone, it went in).
        auto dictation = service.beginDictation();
        QCoro::waitFor(service.insertTranscript(dictation, { 1, 0, QStringLiteral("hello"), false }));
        QVERIFY(!focusWindow({ "--name", "^FocusSecond$" }).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(windows.focusedWindow() != firstId && windows.focusedWindow() != 0, 15000);
        const WindowSystem::WindowId secondId = windows.focusedWindow();
        QCoro::waitFor(service.insertTranscript(dictation, { 1, 0, QStringLiteral("hello world"), true }));
        QCOMPARE(field.keys, QStringLiteral("hello"));
        QVERIFY(dictation->heldBack);

        // Back in the first window it is the same window again; a new
        // dictation there types, and the second window is a window of its own.
        QVERIFY(!focusWindow({ "--name", "^FocusFirst$" }).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), firstId, 15000);
        auto next = service.beginDictation();
        QCoro::waitFor(service.insertTranscript(next, { 2, 0, QStringLiteral("again"), true }));
        QCOMPARE(field.keys, QStringLiteral("hello. again"));

        // A window that does not tell (xterm has no accessibility) leaves the
        // focus unknown rather than in the window the user left.
        QTemporaryDir folder;
        TerminalTarget terminal(folder.filePath(QStringLiteral("out.txt")));
        QVERIFY(terminal.isReady());
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), WindowSystem::WindowId(0), 15000);

        // So does an application that ends while its window is active (the
        // other one ends first: the focus would go back to it).
        first->kill();
        first->waitForFinished();
        QVERIFY(!focusWindow({ "--name", "^FocusSecond$" }).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), secondId, 15000);
        second->kill();
        second->waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(windows.focusedWindow(), WindowSystem::WindowId(0), 15000);
    }
};

QTEST_MAIN(TestFocusAtspi)
#include "test_focus_atspi.moc"
