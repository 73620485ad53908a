// Recognized words in, written text out, for each table entry and boundary.
#include "speech/TextFormatter.h"

#include <QDirIterator>
#include <QTest>

namespace
{

TextFormatter::Context english(bool capitals = true, bool punctuation = true)
{
    TextFormatter::Context context;
    context.language = QStringLiteral("en-US");
    context.options.autoCapitalize = capitals;
    context.options.spokenPunctuation = punctuation;
    return context;
}

void row(const char *name, const QString &spoken, const QString &written)
{
    QTest::addRow("%s", name) << spoken << written;
}

} // namespace

class TestTextFormatter : public QObject
{
    Q_OBJECT

private slots:
    void spokenPunctuationAndCapitals_data()
    {
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("written");
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
        // Capitals.
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
    }
    void spokenPunctuationAndCapitals()
    {
        QFETCH(QString, spoken);
        QFETCH(QString, written);
        QCOMPARE(TextFormatter::format(spoken, english()), written);
    }

    void optionsAndLanguages_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("capitals");
        QTest::addColumn<bool>("punctuation");
        QTest::addColumn<QString>("written");
        const QString spoken = "i said  hello comma world period new line monday";
        QTest::addRow("both off: as recognized") << "en-US" << false << false << spoken;
        QTest::addRow("capitals only: spacing kept")
            << "en-US" << true << false << "I said  hello comma world period new line Monday";
        QTest::addRow("punctuation only") << "en-US" << false << true << "i said hello, world.\nmonday";
        QTest::addRow("no table for the language") << "de-DE" << true << true << spoken;
    }
    void optionsAndLanguages()
    {
        QFETCH(QString, language);
        QFETCH(bool, capitals);
        QFETCH(bool, punctuation);
        QFETCH(QString, written);
        TextFormatter::Context context = english(capitals, punctuation);
        context.language = language;
        const QString spoken = "i said  hello comma world period new line monday";
        QCOMPARE(TextFormatter::format(spoken, context), written);
    }

    // Where the text begins decides its first capital: a recording's start
    // (unless turned off), or a sentence the last utterance finished.
    void firstCapital_data()
    {
        QTest::addColumn<bool>("recordingStart");
        QTest::addColumn<bool>("atRecordingStart"); // the option
        QTest::addColumn<bool>("followsSentenceEnd");
        QTest::addColumn<QString>("written");
        QTest::addRow("a recording's start") << true << true << false << "Hello there";
        QTest::addRow("a recording's start, option off") << true << false << false << "hello there";
        QTest::addRow("after a finished sentence") << false << true << true << "Hello there";
        QTest::addRow("mid-sentence") << false << true << false << "hello there";
    }
    void firstCapital()
    {
        QFETCH(bool, recordingStart);
        QFETCH(bool, atRecordingStart);
        QFETCH(bool, followsSentenceEnd);
        QFETCH(QString, written);
        TextFormatter::Context context = english();
        context.options.capitalizeRecordingStart = atRecordingStart;
        context.recordingStart = recordingStart;
        context.followsSentenceEnd = followsSentenceEnd;
        QCOMPARE(TextFormatter::format("hello there", context), written);
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
