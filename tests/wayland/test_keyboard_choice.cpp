// Which session the environment describes, and which typing backend each
// kind of session gets.
#include "platform/KeyboardBackends.h"
#include "platform/wayland/WaylandVirtualKeyboard.h"

#include <QTest>

#include <xkbcommon/xkbcommon.h>

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
    void detectsSession_data()
    {
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("desktop");
        QTest::addColumn<bool>("xwayland");
        const auto row
            = [](const char *name, const QStringList &assignments, auto kind, auto desktop, bool xwayland) {
                  QTest::addRow("%s", name) << assignments << int(kind) << int(desktop) << xwayland;
              };
        using K = SessionInfo::Kind;
        using D = SessionInfo::Desktop;
        row("gnome wayland",
            QStringList { "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0", "XDG_SESSION_TYPE=wayland",
                "XDG_CURRENT_DESKTOP=ubuntu:GNOME" },
            K::wayland, D::gnome, true);
        // Started from a console: logind still says "tty".
        row("sway from a console",
            QStringList { "WAYLAND_DISPLAY=wayland-1", "XDG_SESSION_TYPE=tty", "XDG_CURRENT_DESKTOP=sway" },
            K::wayland, D::wlroots, false);
        row("wayland type without socket variable", QStringList { "XDG_SESSION_TYPE=wayland" }, K::wayland,
            D::other, false);
        row("blank variables", QStringList { "WAYLAND_DISPLAY= ", "DISPLAY=" }, K::none, D::other, false);
    }
    void detectsSession()
    {
        QFETCH(QStringList, assignments);
        QFETCH(int, kind);
        QFETCH(int, desktop);
        QFETCH(bool, xwayland);
        const SessionInfo session = SessionInfo::fromEnvironment(environment(assignments));
        QCOMPARE(int(session.kind), kind);
        QCOMPARE(int(session.desktop), desktop);
        QCOMPARE(session.hasXwayland(), xwayland);
        if (session.isWayland())
            QVERIFY(!session.waylandDisplay.isEmpty());
    }

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
    // Keys as the virtual keyboard uploads them: one symbol per key, named
    // so that xkbcommon reads back the same character.
    void keysymsAndKeymap_data()
    {
        QTest::addColumn<QString>("character");
        QTest::addColumn<QString>("symbolName");
        const auto row = [](const char *name, const QString &character, const QString &symbolName) {
            QTest::addRow("%s", name) << character << symbolName;
        };
        row("latin-1 accent", "é", "eacute");
        row("outside the basic plane", "😀", "U0001F600");
        row("newline is Return", "\n", "Return");
        row("base with combining mark", "q\u0301", "");
    }
    void keysymsAndKeymap()
    {
        QFETCH(QString, character);
        QFETCH(QString, symbolName);
        const quint32 keysym = WaylandVirtualKeyboard::keysymFor(character);
        if (symbolName.isEmpty()) {
            QCOMPARE(keysym, 0u);
            return;
        }
        char name[64] = {};
        xkb_keysym_get_name(keysym, name, sizeof name);
        QCOMPARE(QString::fromLatin1(name), symbolName);

        // The keymap compiles, and its second key gives the character back.
        const QByteArray text = WaylandVirtualKeyboard::keymapText({ XKB_KEY_BackSpace, keysym });
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap *keymap = xkb_keymap_new_from_string(
            context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        QVERIFY2(keymap, text.constData());
        xkb_state *state = xkb_state_new(keymap);
        QCOMPARE(xkb_state_key_get_one_sym(state, 10), xkb_keysym_t(keysym));
        if (character != "\n")
            QCOMPARE(xkb_state_key_get_utf32(state, 10), character.toUcs4().value(0));
        xkb_state_unref(state);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
};

QTEST_GUILESS_MAIN(TestKeyboardChoice)
#include "test_keyboard_choice.moc"
