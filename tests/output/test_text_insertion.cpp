// The typing logic against fakes, the keyboard a US text field to check what the user sees; and which typing
// backend each kind of session gets.
#include "common/Graphemes.h"
#include "output/TextInsertionService.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/typing/TypingBackends.h"
#include "support/TypingRig.h"

#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs;
const QString flag = u"\U0001F1E9\U0001F1EA"_qs;

class TestTextInsertion : public QObject
{
    Q_OBJECT

    std::unique_ptr<TypingRig> rig;

    void type(const QString &transcript) { typeUtterance(*rig, transcript); }
    QString told(int failure = 0) const { return rig->failures.at(failure).first().toString(); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { rig = std::make_unique<TypingRig>(); }

    // Updates of one utterance: the keys each costs, what the field shows, and that characters outside the
    // layout are pasted in runs, a terminal's chord tried first and the chord that worked kept.
    void typesOnlyWhatChanged_data()
    {
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("screen"); // empty: the next text itself
        const auto row = [](const char *name, const QString &earlier, const QString &next,
                             const QString &keys, const QString &screen = {}) {
            QTest::addRow("%s", name) << earlier << next << keys << screen;
        };
        row("revised ending", "Hello word", "Hello world", "⌫ld");
        row("shrinking", "Hello world this is", "Hello", QString(14, u'⌫'));
        row("combining mark composed and pasted", "Cafe", u"Cafe\u0301 au lait"_qs, "⌫^⇧V^V au lait",
            u"Caf\u00E9 au lait"_qs);
        row("emoji sequences are one character", "We " + family, "We " + flag, "⌫^V");
        // A formatter's marks arrive as themselves. The field ignores the terminal's chord: once Ctrl+V
        // worked, it comes first.
        row("typographic marks", "", u"\u201Ca\u201D \u2013 b\u2026"_qs, "^⇧V^Va^V ^V b^V");
    }
    void typesOnlyWhatChanged()
    {
        QFETCH(QString, earlier);
        QFETCH(QString, next);
        QFETCH(QString, keys);
        QFETCH(QString, screen);
        // A clipboard manager copies each text at once; only the field's own read means the paste key worked.
        rig->pasteboard.manager = true;
        if (!earlier.isEmpty())
            type(earlier);
        rig->field.keys.clear();
        type(next);
        QCOMPARE(rig->field.keys, keys);
        QCOMPARE(rig->field.screen, screen.isEmpty() ? next : screen);
        QCOMPARE(Graphemes::canonical(rig->service.lastInsertedText()), Graphemes::canonical(next));
        // Every paste put the user's clipboard back.
        QCOMPARE(rig->pasteboard.log.count("read"), rig->pasteboard.log.count("restore"));
        QCOMPARE(rig->failures.size(), 0);

        // What one window taught about pasting is not carried to the next dictation, maybe in a terminal.
        rig->scope = rig->service.beginDictation();
        rig->field.keys.clear();
        type(u"\u00E9"_qs);
        QVERIFY2(rig->field.keys.endsWith(u"^⇧V^V"_qs), qPrintable(rig->field.keys));
    }

    void editsTheUtteranceEachUpdateBelongsTo_data()
    {
        // Updates as "utterance|text", in the order the recognizer sends them.
        QTest::addColumn<QStringList>("updates");
        QTest::addColumn<QString>("screen");
        const auto row = [](const char *name, const QStringList &updates, const QString &screen) {
            QTest::addRow("%s", name) << updates << screen;
        };
        const QString heard = "censor report to the finance team period new line thanks period";
        const QString meant = "send the report to the finance team period new line thanks period";
        row("a rewritten start is an edit, however long", { "0|" + heard, "0|" + meant }, meant);
        row("a new utterance after a separator", { "0|hello world", "1|next one" }, "hello world. next one");
        row("an empty final takes it back", { "0|hello", "1|uh", "1|" }, "hello");
        row("extending the last character retypes it", { u"0|क"_qs, u"0|कि"_qs }, u"कि"_qs);
        row("no edit through a later utterance", { "0|one", "1|two", "0|uno" }, "one. two");
    }
    void editsTheUtteranceEachUpdateBelongsTo()
    {
        QFETCH(QStringList, updates);
        QFETCH(QString, screen);
        for (const QString &update : updates) {
            const qsizetype bar = update.indexOf(u'|');
            typeUtterance(*rig, update.mid(bar + 1), update.left(bar).toULongLong());
        }
        QCOMPARE(rig->field.screen, screen);
        QCOMPARE(rig->service.lastInsertedText(), screen);
    }

    void onlyTheNewestQueuedUpdateIsTyped()
    {
        type("Hello");
        rig->field.keys.clear();
        auto run = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there", false });
        // Three updates while it types: each replaces the last, none runs itself.
        for (const char *update : { "Hello there w", "Hello there wo", "Hello there world" })
            type(update);
        QCOMPARE(rig->service.pendingText(), std::optional<QString>("Hello there world"));
        QCoro::waitFor(run);
        QCOMPARE(rig->field.keys, QString(" there world"));
        QCOMPARE(rig->field.screen, QString("Hello there world"));
        QVERIFY(!rig->service.pendingText() && !rig->service.isTyping());

        // Updates of different utterances all count, in order: the first one's final is not folded into the
        // next one's start.
        run = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there world, and", false });
        auto last = rig->service.insertTranscript(rig->scope, { 1, 0, "Hello there world, and you", true });
        auto next = rig->service.insertTranscript(rig->scope, { 1, 1, "next one", false });
        for (auto *task : { &run, &last, &next })
            QCoro::waitFor(*task);
        QCOMPARE(rig->field.screen, QString("Hello there world, and you. next one"));
    }

    // A failed key ends the text there, told once, and nothing later of that recording is typed onto the
    // wrong text; a paste no target takes names what is missing, once per character per recording.
    void failuresAreToldNeverSilent()
    {
        rig->field.keysLeft = 3;
        type("Hello");
        type("Hello there");
        QCOMPARE(rig->field.screen, QString("Hel"));
        QCOMPARE(rig->failures.size(), 1);
        QVERIFY(told().contains("the field went away"));

        rig = std::make_unique<TypingRig>();
        rig->field.pasteboard = nullptr;
        type(u"caf\u00E9 \u2013 ok"_qs);
        type(u"caf\u00E9 \u2013 ok \u2013 \u20AC"_qs);
        QCOMPARE(rig->field.screen, QString("caf  ok  "));
        const QString missing = "These characters could not be typed on this desktop: ";
        QCOMPARE(rig->failures.size(), 2);
        QCOMPARE(told(0), missing + u"\u00E9 \u2013"_qs);
        QCOMPARE(told(1), missing + u"\u00E9 \u2013 \u20AC"_qs);
        // A new recording starts afresh.
        rig->scope = rig->service.beginDictation();
        type(u"\u00E9"_qs);
        QCOMPARE(rig->failures.size(), 3);

        // A clipboard manager's copy is not the field's paste.
        rig = std::make_unique<TypingRig>();
        rig->pasteboard.manager = true;
        rig->field.pastes = false;
        type(u"caf\u00E9"_qs);
        QCOMPARE(rig->field.screen, QString("caf"));
        QCOMPARE(rig->failures.size(), 1);
        QVERIFY(told().endsWith(u"\u00E9"_qs));
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
        // The real table, each probe only noting that it was asked and saying what the row offers.
        QList<TypingBackendRow> table = typingBackendTable();
        for (TypingBackendRow &row : table) {
            const char backend = row.name[0] == 'W' ? 'v' : row.name[0] == 'R' ? 'p' : 'x';
            row.probe = [&, backend](
                            const SessionInfo &) { return (probed += backend, offered.contains(backend)); };
        }
        QProcessEnvironment environment;
        for (const QString &assignment : assignments)
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        const SessionInfo session = SessionInfo::fromEnvironment(environment);
        const TypingChoice choice = chooseTypingBackend(session, table);
        QCOMPARE(choice.name(), chosen);
        QCOMPARE(!choice.limitation.isEmpty(), limited);
        // A better backend is never passed over, nor one past the chosen asked (a probe may open a
        // connection).
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

QTEST_GUILESS_MAIN(TestTextInsertion)
#include "test_text_insertion.moc"
