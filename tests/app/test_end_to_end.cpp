// The whole program, as a user meets it: click the panel's microphone, speak,
// click again, and the words are in the application that had the focus.

#include "DesktopSession.h"

#include <QStandardPaths>

#include <csignal>

namespace {

const QString sentence = QStringLiteral("the quick brown fox jumps over the lazy dog");
// Through the cloud the speech has to fit between two uploads (3 s apart):
// the server decodes each upload on its own, and a word cut at the boundary
// comes back wrong. This one lasts 2.2 s.
const QString shortSentence = QStringLiteral("please call me tomorrow morning");

// The last whole transcript the program handed to typing.
QString lastTranscript(Child &tellwind)
{
    const QString prefix = QStringLiteral("⌨️ [Insert] insertText called with: '");
    QString last;
    for (const QString &line : tellwind.lines())
        if (line.startsWith(prefix) && line.endsWith(QLatin1Char('\'')))
            last = line.mid(prefix.size(), line.size() - prefix.size() - 1);
    return last;
}

// Words of `heard` found in order in `said`: the recognizer may mishear a
// word or two of synthetic speech, the chain around it may not lose any.
int wordsInOrder(const QString &said, const QString &heard)
{
    const QStringList expected = said.split(QLatin1Char(' '));
    const QStringList got = heard.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // Longest common subsequence of the two word lists.
    QList<QList<int>> table(expected.size() + 1, QList<int>(got.size() + 1, 0));
    for (qsizetype i = 1; i <= expected.size(); ++i)
        for (qsizetype j = 1; j <= got.size(); ++j)
            table[i][j] = expected[i - 1] == got[j - 1] ? table[i - 1][j - 1] + 1
                                                         : std::max(table[i - 1][j], table[i][j - 1]);
    return table[expected.size()][got.size()];
}

// What the xterm received is exactly the recognizer's final transcript, and
// that is the spoken sentence but for `misheard` words.
void checkTyped(Child &tellwind, const QString &said, const QString &typed, int misheard)
{
    const QString transcript = lastTranscript(tellwind);
    const int wanted = int(said.count(QLatin1Char(' '))) + 1 - misheard;
    if (typed != transcript || wordsInOrder(said, typed) < wanted)
        qInfo().noquote() << tellwind.lines().join(QLatin1Char('\n'));
    QCOMPARE(typed, transcript);
    QVERIFY2(wordsInOrder(said, typed) >= wanted, qPrintable(typed));
}

// Waits until the program has logged nothing new for `quietMs`.
void waitForQuiet(Child &child, int quietMs = 1500, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    qsizetype seen = -1;
    QDeadlineTimer quiet(quietMs);
    while (!deadline.hasExpired()) {
        const qsizetype now = child.lines().size();
        if (now != seen) {
            seen = now;
            quiet.setRemainingTime(quietMs);
        } else if (quiet.hasExpired()) {
            return;
        }
        QTest::qWait(50);
    }
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Start, speak, stop, and read what the xterm received.
    QString dictate(DesktopSession &session, Child &tellwind, const QString &said, bool cloud)
    {
        const QRect panel = session.panelGeometry();
        if (panel.size() != QSize(190, 160))
            return QStringLiteral("panel not found");
        if (cloud) {
            session.click(panel.topLeft() + DesktopSession::providerOffset);
            if (!tellwind.waitForLine(QStringLiteral("🔄 [STT] Preferred provider toggled to: Google")))
                return QStringLiteral("provider not switched");
        }
        session.prepare(said);
        session.click(panel.topLeft() + DesktopSession::microphoneOffset);
        if (!tellwind.waitForLine(QStringLiteral("✅ Recording started with"), 20000))
            return QStringLiteral("recording did not start");
        // Speaking right after an upload keeps the sentence in one piece.
        if (cloud && !tellwind.waitForLine(QStringLiteral("🌐 [Speech] Sending "), 10000))
            return QStringLiteral("nothing uploaded");
        session.say();
        // The click left the keyboard focus where it was.
        if (session.focusedWindowName() != QLatin1String("dictation-target"))
            return QStringLiteral("focus moved to ") + session.focusedWindowName();
        QTest::qWait(cloud ? 500 : 800);
        session.click(panel.topLeft() + DesktopSession::microphoneOffset);
        if (!tellwind.waitForLine(QStringLiteral("✅ Recording stopped"), 30000))
            return QStringLiteral("recording did not stop");
        waitForQuiet(tellwind);
        return session.finishTarget();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void onDevice()
    {
        DesktopSession session;
        QVERIFY(session.startTarget());
        auto tellwind = session.startTellwind();
        QVERIFY(tellwind->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));
        checkTyped(*tellwind, sentence, dictate(session, *tellwind, sentence, false), 1);
    }

    void throughTheCloud()
    {
        DesktopSession session;
        Child server(session.environment());
        server.start(DesktopSession::buildDir() + QStringLiteral("/tellwind-server"),
                     {"--listen", "127.0.0.1:0", "--data-dir", session.path(QStringLiteral("server"))});
        QVERIFY(server.waitForLine(QStringLiteral("tellwind-server listening on"), 30000));
        QString address;
        for (const QString &line : server.lines())
            if (line.startsWith(QLatin1String("tellwind-server listening on")))
                address = line.section(QLatin1Char(' '), 3, 3);
        QVERIFY(address.startsWith(QLatin1String("http://127.0.0.1:")));
        session.addSetting(QStringLiteral("serverBaseURL=") + address);

        QVERIFY(session.startTarget());
        auto tellwind = session.startTellwind();
        QVERIFY(tellwind->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));
        const QString typed = dictate(session, *tellwind, shortSentence, true);
        QVERIFY2(tellwind->lines().contains(QStringLiteral("✅ Recording started with ☁️ Google")),
                 "the cloud path was not used");
        checkTyped(*tellwind, shortSentence, typed, 1);
    }

    void panelLeavesTheFocusAlone()
    {
        DesktopSession session;
        QVERIFY(session.startTarget());
        auto tellwind = session.startTellwind();
        QVERIFY(tellwind->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));
        QRect panel = session.panelGeometry();

        // What the window manager is told: every desktop, above the others,
        // never to be given the focus.
        const QString window = session.xdotool({"search", "--onlyvisible", "--name", "^Tellwind$"});
        const QString properties = session.run(QStringLiteral("xprop"),
            {"-id", window, "_NET_WM_DESKTOP", "_NET_WM_STATE", "WM_HINTS"});
        QVERIFY2(properties.contains(QLatin1String("_NET_WM_DESKTOP(CARDINAL) = 4294967295")), qPrintable(properties));
        QVERIFY2(properties.contains(QLatin1String("_NET_WM_STATE_STICKY")), qPrintable(properties));
        QVERIFY2(properties.contains(QLatin1String("_NET_WM_STATE_ABOVE")), qPrintable(properties));
        QVERIFY2(properties.contains(QLatin1String("accepts input or input focus: False")), qPrintable(properties));

        // The language search takes the focus while the picker is open...
        session.click(panel.topLeft() + DesktopSession::flagOffset);
        const QRect picker = session.windowGeometry(QStringLiteral("^Tellwind Languages$"));
        QVERIFY(picker.left() >= panel.right());
        QTRY_COMPARE(session.focusedWindowName(), QStringLiteral("Tellwind Languages"));
        session.xdotool({"type", "--delay", "30", "germ"});
        QTest::qWait(300);
        // ...and gives it back when a choice closes it. (The picker shrank
        // to the one row found, and moved to stay centred on the panel.)
        const QRect found = session.windowGeometry(QStringLiteral("^Tellwind Languages$"));
        QVERIFY(found.height() < picker.height());
        session.click(found.topLeft() + QPoint(found.width() / 2, found.height() - 20));
        QVERIFY(tellwind->waitForLine(QStringLiteral("🌐 [STT] Language set to: German (de-DE)")));
        QTRY_COMPARE(session.focusedWindowName(), QStringLiteral("dictation-target"));

        // The background moves the panel, still without taking the focus.
        session.xdotool({"mousemove", QString::number(panel.left() + 8), QString::number(panel.top() + 8),
                         "mousedown", "1"});
        for (int step = 1; step <= 5; ++step)
            session.xdotool({"mousemove", QString::number(panel.left() + 8 + 20 * step),
                             QString::number(panel.top() + 8 + 10 * step)});
        session.xdotool({"mouseup", "1"});
        QTRY_COMPARE(session.panelGeometry().topLeft(), panel.topLeft() + QPoint(100, 50));
        QCOMPARE(session.focusedWindowName(), QStringLiteral("dictation-target"));
    }

    void secondStartHandsOverItsUrl()
    {
        DesktopSession session;
        auto first = session.startTellwind();
        QVERIFY(first->waitForLine(QStringLiteral("✅ Window configured as floating borderless")));

        auto second = session.startTellwind({QStringLiteral("tellwind://callback?token=x")});
        QVERIFY(second->process().waitForFinished(10000));
        QCOMPARE(second->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->process().exitCode(), 0);
        QVERIFY(first->waitForLine(QStringLiteral("🔗 [App] Received URL: tellwind://callback?token=<redacted>")));
        QVERIFY(!second->lines().contains(QStringLiteral("✅ Window configured as floating borderless")));

        // SIGTERM ends it the way Quit does: an orderly exit.
        ::kill(pid_t(first->process().processId()), SIGTERM);
        QVERIFY(first->process().waitForFinished(10000));
        QCOMPARE(first->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->process().exitCode(), 0);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
