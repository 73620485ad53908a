// Which session the environment describes, and which typing backend each
// kind of session gets.
#include "platform/KeyboardBackends.h"

#include <QTest>

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
    }
    void choosesBackend()
    {
        QFETCH(QStringList, assignments);
        QFETCH(QString, offered);
        QFETCH(QString, chosen);
        QFETCH(bool, limited);
        QFETCH(QString, asked);
        QString probed;
        const auto probe = [&](char backend) {
            return [&, backend] { return (probed += backend, offered.contains(backend)); };
        };
        KeyboardProbes probes;
        probes.virtualKeyboard = probe('v');
        probes.remoteDesktop = probe('p');
        probes.xtest = probe('x');
        const KeyboardChoice choice
            = chooseKeyboard(SessionInfo::fromEnvironment(environment(assignments)), probes);
        QCOMPARE(choice.name(), chosen);
        QCOMPARE(!choice.limitation.isEmpty(), limited);
        // A better backend is never passed over, and nothing past the chosen
        // one is asked about (each probe may open a connection).
        QCOMPARE(probed, asked);
    }
};

QTEST_GUILESS_MAIN(TestKeyboardChoice)
#include "test_keyboard_choice.moc"
