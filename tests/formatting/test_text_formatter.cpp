// Recognized words in, written text out, for each table entry and boundary.
#include "speech/TextFormatter.h"

#include <QDirIterator>
#include <QTest>

namespace
{

// `context` names what differs from English with both options on at a
// recording's start: "nocaps", "nopunct", "de", "nostart" (the option off),
// "mid" (not at the start), "after" (not at the start, after a sentence end).
void row(const char *name, const QString &spoken, const QString &written, const QString &context = {})
{
    QTest::addRow("%s", name) << spoken << written << context;
}

} // namespace

class TestTextFormatter : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("context");
        row("semi colon as two words", "first semi colon second", "First; second");
        row("quotes", "he said open quote stop close quote now", u"He said \u201Cstop\u201D now"_qs);
        row("marks in a row", "really question mark exclamation mark close quote", u"Really?!\u201D"_qs);
        row("a line break takes no spaces", "end full stop new line new line next", "End.\n\nNext");
        row("a mark at the start", "comma then", ", then");
        row("spacing is normalised", "  hello \t comma   world  ", "Hello, world");
        // A partial result may end inside a command: nothing is taken for one yet.
        row("half a command", "hello new", "Hello new");
        row("not a command", "mark the new question", "Mark the new question");
        row("literal", "type literal comma here", "Type comma here");
        row("literal literal", "literal literal comma", "Literal comma");
        row("each sentence end",
            "one period two question mark three exclamation point four new line five new paragraph six",
            "One. Two? Three! Four\nFive\n\nSix");
        row("no capital after other marks", "one comma two colon three semicolon four dash five",
            u"One, two: three; four \u2013 five"_qs);
        row("quotes keep the sentence end", "stop period close quote then open quote we go",
            u"Stop.\u201D Then \u201Cwe go"_qs);
        row("i and contractions", "yes i think i'm sure i'll see i've got i'd say",
            "Yes I think I'm sure I'll see I've got I'd say");
        row("words that start like one", "island iris im ill id", "Island iris im ill id");
        row("the verb may", "you may go in may", "You may go in may");
        row("a word that ends a sentence", "done. next one really? yes", "Done. Next one really? Yes");
        row("typographic apostrophe", u"yes i\u2019m sure"_qs, u"Yes I\u2019m sure"_qs);
        row("accented", "\u00FCber alles period \u00E9lan", u"\u00DCber alles. \u00C9lan"_qs);
        row("outside the basic plane", u"\U00010428 period \U00010428"_qs, u"\U00010400. \U00010400"_qs);
        // The options, and a language without a table.
        const QString spoken = "i said  hello comma world period new line monday";
        row("both off: as recognized", spoken, spoken, "nocaps nopunct");
        row("capitals only: spacing kept", spoken, "I said  hello comma world period new line Monday",
            "nopunct");
        row("punctuation only", spoken, "i said hello, world.\nmonday", "nocaps");
        row("no table for the language", spoken, spoken, "de");
        // Where the text begins decides its first capital: a recording's start
        // (unless turned off), or a sentence the last utterance finished.
        row("a recording's start, option off", "hello there", "hello there", "nostart");
        row("after a finished sentence", "hello there", "Hello there", "mid after");
        row("mid-sentence", "hello there", "hello there", "mid");
    }
    void format()
    {
        QFETCH(QString, spoken);
        QFETCH(QString, written);
        QFETCH(QString, context);
        TextFormatter::Context english;
        english.language = context.contains("de") ? "de-DE" : "en-US";
        english.options.autoCapitalize = !context.contains("nocaps");
        english.options.spokenPunctuation = !context.contains("nopunct");
        english.options.capitalizeRecordingStart = !context.contains("nostart");
        english.recordingStart = !context.contains("mid");
        english.followsSentenceEnd = context.contains("after");
        QCOMPARE(TextFormatter::format(spoken, english), written);
    }

    void everyTableLoads()
    {
        // A table that does not parse would silently turn its language off.
        QStringList languages;
        for (QDirIterator it(QStringLiteral(":/formatting")); it.hasNext();)
            languages << it.nextFileInfo().baseName();
        QVERIFY(languages.contains(QStringLiteral("en")));
        for (const QString &language : languages)
            QVERIFY2(TextFormatter::supports(language), qPrintable(language));
    }
};

QTEST_GUILESS_MAIN(TestTextFormatter)
#include "test_text_formatter.moc"
