// The real chain on a headless GNOME 43 or KDE Plasma 5.27 (desktop-session.sh): typing through the desktop's
// portal, its shortcut portal, and the real program's panel leaving the focus where it was.
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

const QString desktop = qEnvironmentVariable("TELLWIND_DESKTOP");
const QString tools = qEnvironmentVariable("TELLWIND_DESKTOP_TOOLS") + '/';
const bool onKde = desktop == "kde";

// A chord pressed "on the desktop" from a RemoteDesktop session of its own, as another keyboard would.
bool pressOnDesktop(const QStringList &keys)
{
    return QProcess::execute("python3", QStringList { tools + "press-keys.py" } + keys) == 0;
}

// raw-reader.py in a native terminal (foot on GNOME; konsole on KDE, where foot dies on KWin's virtual
// output) or as a GTK 4 text field, keeping what it holds in a file.
class DesktopTarget
{
public:
    enum class Kind { terminal, field };

    explicit DesktopTarget(const QString &path, Kind kind = Kind::terminal)
        : m_path(path)
    {
        const QStringList reader { "python3", tools + "raw-reader.py", path };
        if (kind == Kind::field) {
            m_terminal.start("/usr/bin/python3", { tools + "raw-reader.py", "--field", path });
        } else if (onKde) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "wayland");
            m_terminal.setProcessEnvironment(environment);
            m_terminal.start("konsole", QStringList { "--nofork", "--separate", "-e" } + reader);
        } else {
            m_terminal.start("foot", QStringList { "-e" } + reader);
        }
        // FILE.ready once the terminal reports its focus (foot only on a later change).
        m_ready = m_terminal.waitForStarted()
            && QTest::qWaitFor(
                [&path] { return QFile::exists(path + ".ready") || QFile::exists(path); }, 20000);
        // KWin may keep a new window from the focus when input went elsewhere last; a user would click.
        if (m_ready && onKde)
            m_ready
                = QProcess::execute(tools + "focus-kde.sh", { QString::number(m_terminal.processId()) }) == 0;
    }
    ~DesktopTarget()
    {
        m_terminal.kill();
        m_terminal.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }

    // Whether the target has the keyboard focus by its own last report.
    bool keepsFocus() const
    {
        QFile file(m_path + ".focus");
        return !file.open(QIODevice::ReadOnly) || file.readAll() != "out";
    }

    // A new window gets the focus a moment after it shows: dictate probes until one arrives (not received()).
    bool settle(TextInsertionService &service)
    {
        for (int attempt = 0; attempt < 15 && raw().isEmpty(); ++attempt) {
            QCoro::waitFor(
                service.insertTranscript(service.beginDictation(), { ++m_recording, 0, "x", true }));
            (void)QTest::qWaitFor([this] { return !raw().isEmpty(); }, 1000);
        }
        m_probe = raw().size();
        return m_probe > 0;
    }

    // One dictation of `transcripts`, each a revision of the one utterance.
    void dictate(TextInsertionService &service, const QStringList &transcripts)
    {
        m_probe = raw().size(); // a probe that arrived late too
        const std::shared_ptr<TypingScope> scope = service.beginDictation();
        ++m_recording;
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertTranscript(scope, { m_recording, 0, transcript, true }));
    }

    // Everything received, the probes included.
    QString raw() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString text() const
    {
        QString typed = raw().mid(m_probe);
        // A late probe and the separator after it are the probe's (no text dictated starts so).
        qsizetype start = 0;
        while (start < typed.size() && QStringView(u"x. ").contains(typed.at(start)))
            ++start;
        return typed.mid(start);
    }
    // What arrived once it matches `expected`, or after a bounded wait for the last keys.
    QString received(const QString &expected) const
    {
        (void)QTest::qWaitFor([&] { return text() == expected; }, 5000);
        return text();
    }

private:
    QString m_path;
    QProcess m_terminal;
    bool m_ready = false;
    qsizetype m_probe = 0;
    // Recordings are numbered across targets, as one program run numbers them.
    static inline quint64 m_recording = 0;
};

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
