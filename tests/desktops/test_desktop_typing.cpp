// The real chain on a headless GNOME 43 or KDE Plasma 5.27 (desktop-session.sh): typing through the desktop's
// portal, its shortcut portal, and the real program's panel leaving the focus where it was.
#include "DesktopTarget.h"
#include "app/CompositionRoot.h"
#include "app/ProcessRig.h"
#include "desktop/GlobalHotkeyManager.h"
#include "desktop/Hotkey.h"
#include "output/TextInsertionService.h"
#include "platform/SessionInfo.h"
#include "support/ScriptedNotificationService.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

namespace
{

// A chord pressed "on the desktop" from a RemoteDesktop session of its own, as another keyboard would.
bool pressOnDesktop(const QStringList &keys)
{
    return QProcess::execute("python3", QStringList { tools + "press-keys.py" } + keys) == 0;
}

} // namespace

class TestDesktopTyping : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    int targets = 0;
    std::unique_ptr<CompositionRoot> root;
    // KDE's bare session has no notification daemon: this one hears what the user is told.
    std::unique_ptr<ScriptedNotificationService> notices;

private slots:
    void initTestCase()
    {
        if (desktop.isEmpty())
            QSKIP("needs the desktop session of tests/desktops/desktop-session.sh");
        if (onKde) {
            notices = std::make_unique<ScriptedNotificationService>();
            QVERIFY(notices->isRegistered());
        }
        // One portal session for the program's life; GNOME asks for it (answer-dialog.py says yes, and counts
        // its answers). Targets start afterwards: the newest window has the focus.
        root = std::make_unique<CompositionRoot>();
        qInfo().noquote() << "Typing through" << root->typingBackendName();
        QVERIFY(root->textInsertion().isAccessibilityTrusted());
        if (!onKde)
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/dialogs-answered"), 30000);
    }
    void cleanupTestCase()
    {
        root.reset();
        notices.reset();
    }

    // KDE binds the default shortcut; GNOME 43 has no shortcut portal: the user is told to bind the command.
    void shortcut()
    {
        GlobalHotkeyManager &manager = root->hotkeyManager();
        int toggles = 0;
        manager.onHotkeyPressed = [&toggles] { ++toggles; };
        if (!onKde) {
            QTRY_COMPARE_WITH_TIMEOUT(
                manager.desktopBinding(), GlobalHotkeyManager::DesktopBinding::unavailable, 20000);
            QVERIFY(manager.shortcutNote().contains("tellwind --toggle"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            manager.desktopBinding(), GlobalHotkeyManager::DesktopBinding::bound, 20000);
        qInfo().noquote() << "KDE bound the shortcut to" << manager.hotkeyText();
        QCOMPARE(manager.hotkeyText(), QStringLiteral("Ctrl+Alt+D"));
        QVERIFY(pressOnDesktop({ "Control_L", "Alt_L", "d" }));
        QTRY_COMPARE(toggles, 1);
        // Without Ctrl it is only a letter.
        QVERIFY(pressOnDesktop({ "Alt_L", "d" }));
        QVERIFY(pressOnDesktop({ "Control_L", "Alt_L", "d" }));
        QTRY_COMPARE(toggles, 2);
        manager.onHotkeyPressed = nullptr;
    }

    // The real program's panel appears over the application dictated into and leaves it the focus.
    void panelLeavesTheFocus()
    {
        TextInsertionService &service = root->textInsertion();
        DesktopTarget target(folder.filePath("panel"));
        QVERIFY(target.isReady());
        QVERIFY(target.settle(service));
        QProcessEnvironment environment = userEnvironment(folder.filePath("program"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        auto tellwind = Child::start(environment, tellwindProgram());
        QVERIFY(tellwind->waitForLine(tellwindReady, 30000));
        QVERIFY(target.keepsFocus());

        target.dictate(service, { QStringLiteral("still here") });
        QCOMPARE(target.received(QStringLiteral("still here")), QStringLiteral("still here"));
    }
    // ASCII arrives exactly everywhere; what the layout lacks arrives exactly (GNOME: pasted through the
    // Xwayland clipboard, which mutter's manager also reads), or the user is told which characters could not.
    void typesWhatWasMeant_data()
    {
        QTest::addColumn<DesktopTarget::Kind>("kind");
        QTest::addColumn<QStringList>("transcripts"); // the last is what must arrive
        const auto terminal = DesktopTarget::Kind::terminal, field = DesktopTarget::Kind::field;
        QTest::addRow("ascii, two lines")
            << terminal
            << QStringList {
                   "Hello World 42! (a+b)=c; 50% off @ #1 $20 ~x `y` <z> a/b\\c, \"q\" 'p' ^_|{}:?\nLine 2"
               };
        const QStringList outside { "The “Grüße” café – €5 for Straße über é" };
        // The recognizer rewrites the end of what it heard: backspaces, then the new ending.
        const QStringList revised { "Send the report by Friday", "Send the report by Montag – ü ß €" };
        QTest::addRow("outside the layout") << terminal << outside;
        QTest::addRow("revision") << terminal << revised;
        // A field pastes on Ctrl+V, a terminal on Ctrl+Shift+V: each gets its own after the other kind.
        QTest::addRow("field, outside the layout") << field << outside;
        QTest::addRow("field, revision") << field << revised;
        QTest::addRow("terminal after a field") << terminal << QStringList { "Grüße" };
    }
    void typesWhatWasMeant()
    {
        QFETCH(DesktopTarget::Kind, kind);
        QFETCH(QStringList, transcripts);
        const QString &expected = transcripts.last();
        TextInsertionService &service = root->textInsertion();
        QSignalSpy failures(&service, &TextInsertionService::typingFailed);

        DesktopTarget target(folder.filePath(QString::number(++targets)), kind);
        QVERIFY(target.isReady());
        QVERIFY(target.settle(service));
        target.dictate(service, transcripts);
        // KDE takes no paste through the portal: what its US layout lacks is left out, and the user told.
        QString kept, lost;
        for (const QChar ch : expected)
            (ch.unicode() < 0x80 || !onKde ? kept : lost) += ch;
        QCOMPARE(target.received(kept), kept);
        if (lost.isEmpty())
            return;
        QTRY_VERIFY(!failures.isEmpty());
        QString told;
        for (const QList<QVariant> &failure : std::as_const(failures))
            told += failure.first().toString() + u'\n';
        for (const QChar ch : std::as_const(lost))
            QVERIFY2(told.contains(ch), qPrintable(QStringLiteral("%1 lost, told: %2").arg(ch).arg(told)));
    }
};

int main(int argc, char **argv)
{
    // The program's choice: windows and clipboard through Xwayland.
    SessionInfo::preferXwaylandForWindows();
    QApplication app(argc, argv);
    TestDesktopTyping test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_typing.moc"
