// The real chain on the harness's X server: XTest keys into xterm and a GTK text field under other layouts
// and Caps Lock, and another client's clipboard.
#include "support/TerminalTarget.h"
#include "support/TypingChain.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace
{

const QString sampleText = QStringLiteral("copied before the paste");
const QByteArray sampleImage = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");

// Another client reads the clipboard; this process may be the owner who answers, its event loop running.
QByteArray readClipboardElsewhere(const QString &format)
{
    QProcess xclip;
    xclip.start("xclip", { "-o", "-selection", "clipboard", "-t", format });
    const bool done = QTest::qWaitFor([&xclip] { return xclip.state() == QProcess::NotRunning; }, 10000);
    return done ? xclip.readAllStandardOutput() : QByteArray();
}

bool capsLockOn()
{
    return runCommand("xset", { "q" }).simplified().contains("Caps Lock: on");
}

void setKeyboard(const QString &layout, bool capsLock)
{
    runCommand("setxkbmap", { layout });
    if (capsLockOn() != capsLock)
        xdotool({ "key", "Caps_Lock" });
}

} // namespace

class TestTypingX11 : public QObject
{
    Q_OBJECT

    // The service with the program's choice of backend: XTest keys, the Qt clipboard.
    TypingChain chain;
    QTemporaryDir folder;
    quint64 utterance = 0;

    // The whole of the current utterance so far.
    void type(const QString &transcript) { QCoro::waitFor(chain.type(transcript, utterance)); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(chain.service.isAccessibilityTrusted(), "the harness display must offer XTEST");
    }

    void init()
    {
        chain.begin();
        utterance = 0;
    }
    void cleanup() { setKeyboard("us", false); }

    void typesExactlyIntoATerminal_data()
    {
        QTest::addColumn<QString>("layout"); // and " caps" for Caps Lock on
        for (const char *layout : { "us", "de", "fr", "us caps" })
            QTest::newRow(layout) << QString(layout);
    }
    void typesExactlyIntoATerminal()
    {
        QFETCH(QString, layout);
        const bool capsLock = layout.endsWith(" caps");
        setKeyboard(layout.section(' ', 0, 0), capsLock);
        QCOMPARE(capsLockOn(), capsLock);
        TerminalTarget terminal(folder.filePath("out.txt"));
        QVERIFY(terminal.isReady());

        const QString first = "Hello World 123, it's 50% off!";
        const QString second = first + "\nKeys:\t(a+b)*c = {x} [y] <z> ~`q` @home #tag $5 ^&_|\\/;:\"? yz YZ";
        // The hotkey's Shift is still down when the first words arrive.
        xdotool({ "keydown", "shift" });
        QProcess::startDetached("sh", { "-c", "sleep 0.3; xdotool keyup shift" });
        const QDeadlineTimer released(250);
        type(first.left(1));
        QVERIFY(released.hasExpired()); // waited for it rather than releasing it
        type(first);
        type(second);
        type(second + " Typo fxed");
        type(second + " Typo fixed");
        ++utterance;
        type("Second one");
        QCOMPARE(terminal.finish(), second + " Typo fixed. Second one");
    }

    void pastesIntoGtkAndPutsTheClipboardBack()
    {
        QProcess owner;
        owner.start(QCoreApplication::applicationFilePath(), { "--own-clipboard" });
        QVERIFY(owner.waitForReadyRead(10000));
        QProcess zenity;
        zenity.start("zenity", { "--entry", "--title", "TellwindPaste" });
        QVERIFY(!focusWindow({ "--name", "TellwindPaste" }).isEmpty());
        // The keys type what has a keysym, on spare key codes where the layout lacks it; a letter with a mark
        // no single character has is pasted.
        const QString text = u"Café 5€ 中文 “Grüße” – q\u0301!"_qs;
        type(text);

        xdotool({ "key", "Return" }); // OK: the dialog prints what its field holds
        QVERIFY(zenity.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(zenity.readAllStandardOutput()).trimmed(), text);

        // Another client reads what the user had copied, in both formats.
        QCOMPARE(readClipboardElsewhere("text/plain"), sampleText.toUtf8());
        QCOMPARE(readClipboardElsewhere("image/png"), sampleImage);
        owner.kill();
        owner.waitForFinished();
    }
};

// Also stands in for the clipboard's owner, of a text and an image.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--own-clipboard") == 0) {
        auto *data = new QMimeData;
        data->setText(sampleText);
        data->setData("image/png", sampleImage);
        QGuiApplication::clipboard()->setMimeData(data);
        std::puts("ready");
        std::fflush(stdout);
        return app.exec();
    }
    TestTypingX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_typing_x11.moc"
