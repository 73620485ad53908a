// The dictation controller against a fake recognizer, fake typing and a
// counting cursor indicator.

#include "app/AppState.h"
#include "app/SharedNeighbours.h"
#include "common/Settings.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "speech/TextFormattingSettings.h"
#include "support/TypingRig.h"

#include <QStandardPaths>
#include <QTest>

namespace
{

struct Rig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    FakeDictationTyping typing;
    AppState state { recognizer, indicator, typing };
};

// The controller typing through the real service into a text field that
// records its keys.
struct FieldRig : TypingRig {
    FakeDictationRecognizer recognizer;
    FakeCursorIndicator indicator;
    ServiceTyping typing { service };
    AppState state { recognizer, indicator, typing };

    // Each transcript ("utterance|text", or the first utterance's text) is
    // typed to its end before the next comes.
    bool say(const QString &update)
    {
        const qsizetype bar = update.indexOf(u'|');
        recognizer.publishTranscript(update.mid(bar + 1), bar < 0 ? 0 : update.left(bar).toULongLong());
        return QTest::qWaitFor([&] { return !service.isTyping(); });
    }
};

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void typesFormattedTranscripts_data()
    {
        QTest::addColumn<QStringList>("published");
        QTest::addColumn<QString>("screen");
        // A revision that only adds a combining mark is still typed.
        QTest::addRow("a combining mark added")
            << QStringList { "cafe", u"cafe\u0301"_qs } << u"Caf\u00E9"_qs;
        QTest::addRow("a mark revised away and back")
            << QStringList { "hello comma", "hello coma", "hello comma world" } << "Hello, world";
        // A fresh utterance is separated by what the formatted text ends with.
        QTest::addRow("a new utterance after a question")
            << QStringList { "is it raining question mark", "1|yes" } << "Is it raining? Yes";
        QTest::addRow("a new utterance mid-sentence")
            << QStringList { "it is raining", "1|yes" } << "It is raining. Yes";
    }
    void typesFormattedTranscripts()
    {
        QFETCH(QStringList, published);
        QFETCH(QString, screen);
        Settings::setBool(TextFormattingSettings::autoCapitalizeKey, true);
        Settings::setBool(TextFormattingSettings::spokenPunctuationKey, true);
        FieldRig rig;
        rig.state.startRecording();
        QTRY_VERIFY(rig.state.isRecording());
        for (const QString &text : published)
            QVERIFY2(rig.say(text), qPrintable(text));
        QCOMPARE(rig.field.screen, screen);
    }

    // Words of a recording that has ended (a late reply) or of none are
    // neither shown nor handed to the typing.
    void transcriptsOfOtherRecordingsAreDropped()
    {
        Rig rig;
        rig.state.startRecording();
        QTRY_VERIFY(rig.state.isRecording());
        const quint64 current = rig.recognizer.recording;
        rig.recognizer.publishFor(current - 1, "earlier");
        rig.recognizer.publishFor(current + 1, "later");
        rig.recognizer.publishTranscript("now");
        QTRY_COMPARE(rig.typing.journal.filter("typed:").size(), 1);
        QVERIFY2(rig.typing.journal.filter("foreign:").isEmpty(), qPrintable(rig.typing.journal.join(", ")));
        QCOMPARE(rig.state.transcribedText().toLower(), QString("now"));
    }

    void refusedStarts()
    {
        Rig rig;
        rig.typing.trusted = false;
        rig.state.startRecording();
        // Without the permission: an alert, and nothing else touched.
        QTRY_COMPARE(rig.typing.journal, QStringList { "enable alert" });
        QVERIFY(rig.recognizer.calls.isEmpty() && !rig.state.isRecording());
        rig.typing.trusted = true;

        // A recognizer that cannot start: its error shows, no badge.
        rig.recognizer.startError = QStringLiteral("Failed to start server recognition: no microphone");
        rig.state.startRecording();
        QTRY_COMPARE(rig.state.errorMessage(), rig.recognizer.startError);
        QVERIFY(!rig.state.isRecording() && rig.indicator.shows == 0);
        QCOMPARE(rig.recognizer.calls, (QStringList { "start" }));
    }
};

QTEST_MAIN(TestAppState)
#include "test_appstate.moc"
