// The typing logic against fakes; the keyboard plays a US text field to check what the user sees.
#include "output/Graphemes.h"
#include "output/TextInsertionService.h"
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

    void type(const QString &transcript) { QCoro::waitFor(rig->service.insertText(transcript)); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() { rig = std::make_unique<TypingRig>(); }

    void typesOnlyWhatChanged()
    {
        // Transcripts of one recording, then the next: the keys it costs and
        // what the text field shows afterwards.
        const QString x30 = "ab" + QString(30, u'x'), y = "ab" + QString(17, u'y');
        const QList<std::tuple<QStringList, QString, QString, QString>> cases
            = { { { "Hello word" }, "Hello world", "⌫ld", "Hello world" },
                  // Shrinking but sharing more than two characters: corrected in place;
                  // sharing two, a new sentence.
                  { { "Hello world this is" }, "Hello", QString(14, u'⌫'), "Hello" },
                  { { "abcdefgh" }, "abX", ". abX", "abcdefgh. abX" },
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
            rig->field.keys.clear();
            type(next);
            QCOMPARE(rig->field.keys, keys);
            QCOMPARE(rig->field.screen, screen);
            QCOMPARE(Graphemes::canonical(rig->service.lastInsertedText()), Graphemes::canonical(next));
        }
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
        rig->service.beginRecording(1);
        for (const QString &update : updates) {
            const qsizetype bar = update.indexOf(u'|');
            QCoro::waitFor(rig->service.insertTranscript(
                { 1, update.left(bar).toULongLong(), update.mid(bar + 1), false }));
        }
        QCOMPARE(rig->field.screen, screen);
        QCOMPARE(rig->service.lastInsertedText(), screen);
    }

    void onlyTheNewestQueuedUpdateIsTyped()
    {
        type("Hello");
        rig->field.keys.clear();
        auto run = rig->service.insertText("Hello there");
        // Three updates while it types: each replaces the last, none runs itself.
        for (const char *update : { "Hello there w", "Hello there wo", "Hello there world" })
            QCoro::waitFor(rig->service.insertText(update));
        QCOMPARE(rig->service.pendingText(), std::optional<QString>("Hello there world"));
        QCoro::waitFor(run);
        QCOMPARE(rig->field.keys, QString(" there world"));
        QCOMPARE(rig->field.screen, QString("Hello there world"));
        QVERIFY(!rig->service.pendingText() && !rig->service.isTyping());
    }

    // Updates that queue while one is typed: the newest of each utterance
    // counts, an earlier utterance's final included. A new recording drops
    // what the last one still had queued, and what that one says later.
    void queuedUpdatesKeepEachUtteranceAndRecording()
    {
        TextInsertionService &service = rig->service;
        const auto update = [&service](quint64 recording, quint64 utterance, const char *text) {
            return service.insertTranscript({ recording, utterance, text, false });
        };
        service.beginRecording(1);
        auto running = update(1, 0, "hello wor");
        QCoro::waitFor(update(1, 0, "hello world"));
        QCoro::waitFor(update(1, 1, "next"));
        QCoro::waitFor(update(1, 1, "next one"));
        QCoro::waitFor(running);
        QCOMPARE(rig->field.screen, QString("hello world. next one"));

        running = update(1, 1, "next one more");
        QCoro::waitFor(update(1, 2, "queued"));
        service.beginRecording(2);
        QCoro::waitFor(update(1, 3, "late"));
        QCoro::waitFor(running);
        QCoro::waitFor(update(2, 0, "fresh"));
        // A recording's first words follow the last one's without a separator.
        QCOMPARE(rig->field.screen, QString("hello world. next one morefresh"));
    }

    // The US characters themselves are the X11 typing test's, under several layouts.
    void typographicMarksAreTypedAsTheirPlainForms()
    {
        type(u"\u2018a\u2019 \u201Cb\u201D\u2026"_qs);
        QCOMPARE(rig->field.keys, QString("'a' \"b\"."));
        QVERIFY(rig->pasteboard.log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextInsertion)
#include "test_text_insertion.moc"
