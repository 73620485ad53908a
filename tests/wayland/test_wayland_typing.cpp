// The real chain on a headless sway: the program's typing service, wired as the program chooses its backend,
// types into foot, a native Wayland terminal.
#include "FootTarget.h"
#include "support/TypingChain.h"

#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

class TestWaylandTyping : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QSKIP("needs the sway session of tests/wayland/sway-session.sh");
        QVERIFY(folder.isValid());
    }

    void typesIntoFoot_data()
    {
        QTest::addColumn<QStringList>("transcripts"); // the last is what must arrive
        QTest::addRow("capitals digits symbols, two lines")
            << QStringList { "Hello World 42! (a+b)=c; 50% off @ #1 $20 ~x `y` <z> a/b\\c\nsecond Line" };
        QTest::addRow("accents euro and han") << QStringList { "Café crème €5 中文 Grüße" };
        // The recognizer rewrites the end of what it heard: backspaces, then the new ending, with characters
        // the first keymap did not hold.
        QTest::addRow("revision") << QStringList { "Send the report by Friday",
            "Send the report by Montag é 中 €" };
        // Several code points in one character: one key each, so the same code points arrive (sway takes no
        // paste from a clipboard owner without the focus).
        QTest::addRow("emoji sequence and a mark")
            << QStringList { u"Family \U0001F468\u200D\U0001F469\u200D\U0001F467 q\u0301 done"_qs };
    }
    void typesIntoFoot()
    {
        QFETCH(QStringList, transcripts);
        TypingChain chain;
        QCOMPARE(chain.setup.choice.name(), "Wayland virtual keyboard");

        FootTarget target(folder.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
        QVERIFY(target.isReady());
        for (const QString &transcript : transcripts)
            QCoro::waitFor(chain.type(transcript));
        QCOMPARE(target.finish(), transcripts.last());
    }
};

QTEST_MAIN(TestWaylandTyping)

#include "test_wayland_typing.moc"
