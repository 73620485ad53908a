// The real chain on a headless sway: the program's typing service, wired as
// the program wires it, types into foot, a native Wayland terminal.
#include "FootTarget.h"
#include "app/CompositionRoot.h"
#include "output/TextInsertionService.h"
#include "platform/KeyboardBackends.h"

#include <QApplication>
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
        QTest::addColumn<QStringList>("transcripts");
        QTest::addColumn<QString>("expected");
        QTest::addRow("capitals digits symbols")
            << QStringList { "Hello World 42! (a+b)=c; 50% off @ #1 $20 ~x `y` <z> a/b\\c" }
            << "Hello World 42! (a+b)=c; 50% off @ #1 $20 ~x `y` <z> a/b\\c";
        QTest::addRow("accents euro and han")
            << QStringList { "Café crème €5 中文 Grüße" } << "Café crème €5 中文 Grüße";
        // The recognizer rewrites the end of what it heard: backspaces, then
        // the new ending, with characters the first keymap did not hold.
        QTest::addRow("revision") << QStringList { "Send the report by Friday",
            "Send the report by Montag é 中 €" }
                                  << "Send the report by Montag é 中 €";
        QTest::addRow("two lines") << QStringList { "first line\nsecond Line" } << "first line\nsecond Line";
    }
    void typesIntoFoot()
    {
        QFETCH(QStringList, transcripts);
        QFETCH(QString, expected);
        CompositionRoot root;
        TextInsertionService &service = root.textInsertion();
        QCOMPARE(root.typingBackendName(), QStringLiteral("Wayland virtual keyboard"));
        service.setLastInsertedText({});

        FootTarget target(folder.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
        QVERIFY(target.isReady());
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertText(transcript));
        QCOMPARE(target.finish(), expected);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestWaylandTyping test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland_typing.moc"
