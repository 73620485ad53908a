// Which session the environment describes, and which typing backend each kind of session gets.
#include "platform/typing/TypingBackends.h"

#include "fakes/FakePasteboard.h"
#include "platform/SyntheticKeyLog.h"

#include <QTest>

#include <qcoro/qcorotask.h>

namespace
{

QProcessEnvironment environment(const QStringList &assignments)
{
    QProcessEnvironment env;
    for (const QString &assignment : assignments)
        env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    return env;
}

} // namespace

class TestKeyboardChoice : public QObject
{
    Q_OBJECT

private slots:
    void choosesBackend_data()
    {
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<QString>("offered"); // v: virtual keyboard, p: portal, x: XTEST
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("limited");
        QTest::addColumn<QString>("asked");
        const auto row = [](const char *name, const QStringList &assignments, const QString &offered,
                             const QString &chosen, bool limited, const QString &asked) {
            QTest::addRow("%s", name) << assignments << offered << chosen << limited << asked;
        };
        const QStringList wayland { "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0" };
        // An X server still starting keeps XTEST: it is retried at each use.
        row("x11 not answering yet", { "DISPLAY=:0" }, "", "X11 (XTEST)", false, "");
        row("sway", wayland, "vpx", "Wayland virtual keyboard", false, "v");
        row("gnome", wayland, "px", "RemoteDesktop portal", false, "vp");
        row("xwayland only", wayland, "x", "X11 (XTEST)", true, "vpx");
        row("no xwayland, no portal", { "WAYLAND_DISPLAY=wayland-0" }, "x", "none", true, "vp");
        row("no session", {}, "vpx", "none", true, "");
    }
    void choosesBackend()
    {
        QFETCH(QStringList, assignments);
        QFETCH(QString, offered);
        QFETCH(QString, chosen);
        QFETCH(bool, limited);
        QFETCH(QString, asked);
        QString probed;
        // The real table, each probe replaced by one that only says what the row offers and notes that it was
        // asked.
        QList<TypingBackendRow> table = typingBackendTable();
        for (TypingBackendRow &row : table) {
            const char backend = row.name[0] == 'W' ? 'v' : row.name[0] == 'R' ? 'p' : 'x';
            row.probe = [&, backend](
                            const SessionInfo &) { return (probed += backend, offered.contains(backend)); };
        }
        const SessionInfo session = SessionInfo::fromEnvironment(environment(assignments));
        const TypingChoice choice = chooseTypingBackend(session, table);
        QCOMPARE(choice.name(), chosen);
        QCOMPARE(!choice.limitation.isEmpty(), limited);
        // A better backend is never passed over, and nothing past the chosen one is asked about (each probe
        // may open a connection).
        QCOMPARE(probed, asked);
        // Every row builds a backend, the last one too, which says why it types nothing.
        if (chosen == "none") {
            QVERIFY(choice.row && choice.row->make);
            SyntheticKeyLog sent;
            FakePasteboard pasteboard;
            auto backend = choice.row->make({ session, sent, pasteboard });
            QVERIFY(!backend->canSynthesizeInput());
            const TypingResult typed = QCoro::waitFor(backend->typeText("a"));
            QCOMPARE(typed.status, TypingResult::Status::failed);
            QCOMPARE(typed.message, backend->limitation());
            QVERIFY(!typed.message.isEmpty());
        }
    }

    // The chords the backends press are read as desktop settings write them.
    void chordsParse()
    {
        using Chord = std::optional<KeyChord>;
        QCOMPARE(KeyChord::parse("ctrl+shift+v"), Chord({ 'v', true, true, false }));
        QCOMPARE(KeyChord::parse("Return"), Chord({ 0xff0d, false, false, false }));
        QCOMPARE(KeyChord::parse("Alt+Tab"), Chord({ 0xff09, false, false, true }));
        QVERIFY(!KeyChord::parse("hyper+v") && !KeyChord::parse("ctrl+nosuchkey"));
    }
};

QTEST_GUILESS_MAIN(TestKeyboardChoice)
#include "test_keyboard_choice.moc"
