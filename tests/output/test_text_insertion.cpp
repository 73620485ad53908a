// The typing logic against fakes; the keyboard plays a US text field to check what the user sees.
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "output/Graphemes.h"
#include "output/TextInsertionService.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs;
const QString flag = u"\U0001F1E9\U0001F1EA"_qs;

class TestTextInsertion : public QObject
{
    Q_OBJECT

    FakeKeyboardEventSink keyboard;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    std::unique_ptr<TextInsertionService> service;

    void type(const QString &transcript) { QCoro::waitFor(service->insertText(transcript)); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        keyboard = FakeKeyboardEventSink();
        pasteboard = FakePasteboard();
        keyboard.pasteboard = &pasteboard;
        trust = FakeAccessibilityTrust();
        alerts = FakeAlertPresenter();
        workspace = FakeWorkspace();
        bundle = FakeApplicationBundle();
        service
            = std::make_unique<TextInsertionService>(keyboard, trust, pasteboard, alerts, workspace, bundle);
    }

    void typesOnlyWhatChanged()
    {
        // Transcripts of one recording, then the next: the keys it costs and
        // what the text field shows afterwards.
        const QString x30 = "ab" + QString(30, u'x'), y = "ab" + QString(17, u'y');
        const QList<std::tuple<QStringList, QString, QString, QString>> cases
            = { { { "Hello word" }, "Hello world", "⌫ld", "Hello world" },
                  // Shrinking but sharing more than two characters: corrected in place.
                  { { "Hello world this is" }, "Hello", QString(14, u'⌫'), "Hello" },
                  // 30 backspaces are still a correction; 31 are not, and nothing
                  // already typed is deleted.
                  { { x30 }, y, QString(30, u'⌫') + y.mid(2), y },
                  { { x30 + "x" }, y, ". " + y, x30 + "x. " + y },
                  { { "Cafe" }, u"Cafe\u0301 au lait"_qs, "⌫⌘V au lait", u"Caf\u00E9 au lait"_qs },
                  { { "We " + family }, "We " + flag, "⌫⌘V", "We " + flag } };
        for (const auto &[earlier, next, keys, screen] : cases) {
            init();
            for (const QString &text : earlier)
                type(text);
            keyboard.keys.clear();
            type(next);
            QCOMPARE(keyboard.keys, keys);
            QCOMPARE(keyboard.screen, screen);
            QCOMPARE(Graphemes::canonical(service->lastInsertedText()), Graphemes::canonical(next));
        }
    }

    void sentenceSeparatorRules()
    {
        // After a sentence end a space, else a full stop too; before punctuation at most a space.
        const QList<std::array<QString, 3>> cases
            = { { "", "Next", "" }, { "Hello", "Next", ". " }, { u"好\u3002"_qs, u"再见"_qs, " " },
                  { "Hello ", "Next", "" }, { "Hello", ", and more", " " }, { "Hello", u".\u0301x"_qs, ". " },
                  // A dictated line break is separation enough.
                  { "Hello\n\n", ", and", "" } };
        for (const auto &[previous, next, expected] : cases)
            QVERIFY2(TextInsertionService::sentenceSeparator(previous, next) == expected,
                qPrintable(previous + " | " + next));
    }

    void editsTheUtteranceEachUpdateBelongsTo_data()
    {
        // Updates as "utterance|text", in the order the recognizer sends them.
        QTest::addColumn<QStringList>("updates");
        QTest::addColumn<QString>("screen");
        const QString heard = "censor report to the finance team period new line thanks period";
        const QString meant = "send the report to the finance team period new line thanks period";
        QTest::addRow("a final that rewrites the start is an edit, however long")
            << QStringList { "0|" + heard, "0|" + meant } << meant;
        QTest::addRow("a new utterance follows after a separator")
            << QStringList { "0|hello world", "1|next one" } << "hello world. next one";
        QTest::addRow("a final that says nothing takes its utterance back")
            << QStringList { "0|hello", "1|uh", "1|" } << "hello";
        QTest::addRow("extending the last character retypes it")
            << QStringList { u"0|क"_qs, u"0|कि"_qs } << u"कि"_qs;
        QTest::addRow("an earlier utterance is not reached through a later one")
            << QStringList { "0|one", "1|two", "0|uno" } << "one. two";
    }

    void editsTheUtteranceEachUpdateBelongsTo()
    {
        QFETCH(QStringList, updates);
        QFETCH(QString, screen);
        service->beginRecording(1);
        for (const QString &update : updates) {
            const qsizetype bar = update.indexOf(u'|');
            QCoro::waitFor(
                service->insertTranscript({ 1, update.left(bar).toULongLong(), update.mid(bar + 1), false }));
        }
        QCOMPARE(keyboard.screen, screen);
        QCOMPARE(service->lastInsertedText(), screen);
    }

    void onlyTheNewestQueuedUpdateIsTyped()
    {
        type("Hello");
        keyboard.keys.clear();
        auto run = service->insertText("Hello there");
        // Three updates while it types: each replaces the last, none runs itself.
        for (const char *update : { "Hello there w", "Hello there wo", "Hello there world" })
            QCoro::waitFor(service->insertText(update));
        QCOMPARE(service->pendingText(), std::optional<QString>("Hello there world"));
        QCoro::waitFor(run);
        QCOMPARE(keyboard.keys, QString(" there world"));
        QCOMPARE(keyboard.screen, QString("Hello there world"));
        QVERIFY(!service->pendingText() && !service->isTyping());
    }

    void charactersAreGraphemesInCanonicalForm()
    {
        // Random texts that stress the shortcuts of the boundaries and the composition.
        const QStringList pieces = { "a", "Z", " ", "\n", "\t", u"\u0301"_qs, u"\u0308\u0323"_qs,
            u"\u00E9"_qs, u"\U0001F1E9"_qs, u"\U0001F468\u200D\U0001F469"_qs, u"\u1100\u1161\u11A8"_qs,
            u"\u304B\u3099"_qs, u"中"_qs, u"\uFE0F"_qs, u"\u0915\u094D\u0937"_qs, "e", "." };
        QRandomGenerator random(42);
        for (int round = 0; round < 200; ++round) {
            QString text;
            for (int i = int(random.bounded(1, 400)); i > 0; --i)
                text += pieces[random.bounded(int(pieces.size()))];
            QList<qsizetype> expected = { 0 };
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
            while (finder.toNextBoundary() != -1)
                expected.append(finder.position());
            QCOMPARE(Graphemes::boundaries(text), expected);
            QCOMPARE(Graphemes::canonical(text), text.normalized(QString::NormalizationForm_C));
        }
        // CR LF is one character and a control ends one (Qt's finder errs here).
        QCOMPARE(Graphemes::boundaries(u"\r\r\n\r\u0915"), (QList<qsizetype> { 0, 1, 3, 4, 5 }));
        QCOMPARE(Graphemes::boundaries(u"Z\r\n\u0915\u094D\u0937"), (QList<qsizetype> { 0, 1, 3, 6 }));
        QCOMPARE(Graphemes::boundaries(u"Z\r\u0301x"), (QList<qsizetype> { 0, 1, 2, 3, 4 }));

        // The diff counts characters, not code units: 20 flags are a correction.
        QCOMPARE(service->computeDiff("ab" + flag.repeated(20), "ab" + QString(12, u'x')),
            (TextInsertionService::Diff { 20, QString(12, u'x') }));
        QCOMPARE(TextInsertionService::computeEdit("ab" + flag.repeated(40), "ab"),
            (TextInsertionService::Diff { 40, {} }));
    }

    // The US characters themselves are the X11 typing test's, under several layouts.
    void typographicMarksAreTypedAsTheirPlainForms()
    {
        type(u"\u2018a\u2019 \u201Cb\u201D\u2026"_qs);
        QCOMPARE(keyboard.keys, QString("'a' \"b\"."));
        QVERIFY(pasteboard.log.isEmpty());
    }

    void pastesOtherCharactersAndRestoresTheWholeClipboard()
    {
        const PasteboardContents previous { { { "text/plain", "copied" }, { "image/png", "\x89PNG\r\n" },
            { "text/html", "<b>copied</b>" } } };
        pasteboard.current = previous;
        type(u"é€ ok "_qs + family);
        QCOMPARE(keyboard.screen, u"é€ ok "_qs + family);
        QCOMPARE(keyboard.keys, QString("⌘V⌘V ok ⌘V"));
        QCOMPARE(pasteboard.current, previous);

        // An empty clipboard stays empty, put back even if the paste was never taken.
        pasteboard = FakePasteboard();
        keyboard.pasteboard = nullptr;
        type(u"ü"_qs);
        QVERIFY(pasteboard.current.isEmpty());
        QCOMPARE(pasteboard.log, (QStringList { "read", u"text:ü"_qs, "wait", "restore" }));
    }

    void permissionAndItsAlerts()
    {
        trust.trusted = false;
        type("Hello");
        QVERIFY(keyboard.keys.isEmpty() && !service->isTyping());
        // Granted when asked: the next update is typed in full.
        QVERIFY(service->requestAccessibilityTrust());
        type("Hello");
        QCOMPARE(keyboard.screen, QString("Hello"));

        // Run from elsewhere, the second button is "Install Tellwind", whose alert can show the program's
        // file.
        alerts.answers = { 1001, 1000 };
        bundle.location = QDir::homePath() + "/.local/../Downloads/tellwind";
        QCoro::waitFor(service->showAccessibilityPermissionAlert());
        QCOMPARE(alerts.titles(), (QStringList { "Permission to Type Required", "Install Tellwind" }));
        QCOMPARE(workspace.revealedFiles, QStringList { bundle.location });
        alerts.answers = { 1000 };
        QCoro::waitFor(service->showEnableAccessibilityAlert());
        QVERIFY(alerts.shown.last().informativeText.endsWith(
            "Please install Tellwind under /usr, /opt or ~/.local first!"));
        QCOMPARE(workspace.openedPanes, QList { Workspace::Pane::accessibility });
    }
};

QTEST_GUILESS_MAIN(TestTextInsertion)
#include "test_text_insertion.moc"
