// The real chain on the harness's X server: XTest keys into xterm and a GTK
// text field, under other layouts and Caps Lock, with the clipboard of
// another client put back after pastes.
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/x11/XTestKeyboard.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <cstdio>
#include <memory>

namespace {

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

QString xdotool(const QStringList &arguments)
{
    return QString::fromUtf8(run("xdotool", arguments)).trimmed();
}

bool capsLockOn()
{
    return QString::fromUtf8(run("xset", {"q"})).contains(QRegularExpression("Caps Lock:\\s+on"));
}

QByteArray sampleImage()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(4, 4, 8, 8, Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

const QString sampleText = QStringLiteral("copied before the paste");

// Stand-ins for other applications, run as a second copy of this program:
// one owns the clipboard with a text and an image, one reads a format of it.
int ownClipboard(int argc, char **argv)
{
    QApplication app(argc, argv);
    auto *data = new QMimeData;
    data->setText(sampleText);
    data->setData("image/png", sampleImage());
    QGuiApplication::clipboard()->setMimeData(data);
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

int readClipboard(int argc, char **argv, const char *format)
{
    QApplication app(argc, argv);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    const QByteArray bytes = data ? data->data(QString::fromLatin1(format)) : QByteArray();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return 0;
}

// The event loop keeps running meanwhile: we may be the owner who answers.
QByteArray readClipboardElsewhere(const QString &format)
{
    QProcess reader;
    QSignalSpy finished(&reader, &QProcess::finished);
    reader.start(QCoreApplication::applicationFilePath(), {"--read-clipboard", format});
    finished.wait(10000);
    return reader.readAllStandardOutput();
}

// Waits until the window of a client is on screen and has the keyboard
// focus. A window found but not yet mapped cannot take the focus, and keys
// sent then would be lost.
QString focusWindow(const QStringList &search)
{
    const QString window
        = xdotool(QStringList{"search", "--sync", "--onlyvisible"} + search).split('\n').value(0);
    if (window.isEmpty())
        return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        xdotool({"windowfocus", "--sync", window});
        if (xdotool({"getwindowfocus"}) == window)
            return window;
        QTest::qWait(20);
    }
    return {};
}

// Applies a keyboard setting for one test and takes it back afterwards.
struct Layout {
    explicit Layout(const QString &name) { run("setxkbmap", {name}); }
    ~Layout() { run("setxkbmap", {"us"}); }
};
struct CapsLock {
    CapsLock()
    {
        if (!capsLockOn())
            xdotool({"key", "Caps_Lock"});
    }
    ~CapsLock()
    {
        if (capsLockOn())
            xdotool({"key", "Caps_Lock"});
    }
};

} // namespace

class TestTypingX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<XTestKeyboard> keyboard;
    QtPasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    std::unique_ptr<TextInsertionService> service;
    QTemporaryDir folder;

    void type(const QString &transcript) { QCoro::waitFor(service->insertText(transcript)); }

    // An xterm that writes what it receives into a file, focused and ready.
    std::unique_ptr<QProcess> startTerminal(const QString &file)
    {
        auto terminal = std::make_unique<QProcess>();
        terminal->setWorkingDirectory(folder.path());
        QFile::remove(folder.filePath(file));
        terminal->start("xterm", {"-geometry", "120x20+0+0", "-e", "sh", "-c", "exec cat > " + file});
        if (!terminal->waitForStarted())
            return nullptr;
        if (focusWindow({"--pid", QString::number(terminal->processId())}).isEmpty())
            return nullptr;
        // The file appears once cat listens on the terminal.
        for (int i = 0; i < 200 && !QFile::exists(folder.filePath(file)); ++i)
            QTest::qWait(25);
        return terminal;
    }

    QString finishTerminal(QProcess &terminal, const QString &file)
    {
        // The first Ctrl+D hands over the unfinished line, the second ends cat.
        xdotool({"key", "ctrl+d", "ctrl+d"});
        terminal.waitForFinished(10000);
        QFile out(folder.filePath(file));
        out.open(QIODevice::ReadOnly);
        return QString::fromUtf8(out.readAll());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(folder.isValid());
        keyboard = std::make_unique<XTestKeyboard>();
        QVERIFY2(keyboard->isTrusted(), "the harness display must offer XTEST");
        service = std::make_unique<TextInsertionService>(*keyboard, *keyboard, pasteboard, alerts, workspace,
                                                         bundle);
    }

    void init() { service->setLastInsertedText(QString()); }

    void typesExactlyIntoATerminal_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("capsLock");
        QTest::newRow("us") << "us" << false;
        QTest::newRow("german layout") << "de" << false;
        QTest::newRow("caps lock") << "us" << true;
        QTest::newRow("french layout, caps lock") << "fr" << true;
    }

    void typesExactlyIntoATerminal()
    {
        QFETCH(QString, layout);
        QFETCH(bool, capsLock);
        Layout activeLayout(layout);
        std::optional<CapsLock> lock;
        if (capsLock) {
            lock.emplace();
            QVERIFY(capsLockOn());
        }
        auto terminal = startTerminal("out.txt");
        QVERIFY(terminal);

        const QString first = "Hello World 123, it's 50% off!";
        const QString second = first + "\nKeys:\t(a+b)*c = {x} [y] <z> ~`q` @home #tag $5 ^&_|\\/;:\"? yz YZ";
        const QString revised = second + " Typo fixed";
        type(first);
        type(second);
        type(second + " Typo fxed");
        type(revised);
        type("Second one");

        QCOMPARE(finishTerminal(*terminal, "out.txt"), revised + ". Second one");
    }

    void waitsForKeysTheUserStillHolds()
    {
        auto terminal = startTerminal("held.txt");
        QVERIFY(terminal);
        // Shift of the hotkey is still down when the first words arrive.
        xdotool({"keydown", "shift"});
        QTimer::singleShot(300, [] { QProcess::startDetached("xdotool", {"keyup", "shift"}); });
        QElapsedTimer clock;
        clock.start();
        type("lower case");
        QVERIFY(clock.elapsed() >= 250);
        QCOMPARE(finishTerminal(*terminal, "held.txt"), QString("lower case"));
    }

    void recordsEveryKeyItSends()
    {
        auto terminal = startTerminal("log.txt");
        QVERIFY(terminal);
        SyntheticKeyLog &log = SyntheticKeyLog::shared();
        // Earlier tests typed these keys too, a moment ago.
        for (unsigned keycode : {50u, 38u, 56u}) {
            while (log.takeIfSent(keycode, true) || log.takeIfSent(keycode, false)) {
            }
        }
        type("Ab");
        // A (with Shift) and b, each down and up: the evdev key codes of a US
        // keyboard are Shift_L 50, A 38, B 56.
        for (auto [keycode, press] : {std::pair{50u, true}, {38u, true}, {38u, false}, {50u, false},
                                      {56u, true}, {56u, false}})
            QVERIFY2(log.takeIfSent(keycode, press), qPrintable(QString::number(keycode)));
        QVERIFY(!log.takeIfSent(38, true));
        QCOMPARE(finishTerminal(*terminal, "log.txt"), QString("Ab"));
    }

    void pastesIntoGtkAndPutsTheClipboardBack()
    {
        QProcess owner;
        owner.start(QCoreApplication::applicationFilePath(), {"--own-clipboard"});
        QVERIFY(owner.waitForReadyRead(10000));
        QCOMPARE(readClipboardElsewhere("text/plain"), sampleText.toUtf8());

        QProcess zenity;
        zenity.start("zenity", {"--text-info", "--editable", "--title", "TellwindPaste"});
        const QString window = focusWindow({"--name", "TellwindPaste"});
        QVERIFY(!window.isEmpty());

        const QString text = u"Café 5€ 中文!"_qs;
        type(text);

        // OK prints the text; it sits at the bottom right of the dialog.
        const QStringList geometry = xdotool({"getwindowgeometry", "--shell", window}).split('\n');
        int width = 0, height = 0;
        for (const QString &line : geometry) {
            if (line.startsWith("WIDTH="))
                width = line.mid(6).toInt();
            if (line.startsWith("HEIGHT="))
                height = line.mid(7).toInt();
        }
        xdotool({"mousemove", "--window", window, QString::number(width - 45), QString::number(height - 25),
                 "click", "1"});
        QVERIFY(zenity.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(zenity.readAllStandardOutput()).trimmed(), text);

        // Another client reads what the user had copied, in both formats.
        QCOMPARE(readClipboardElsewhere("text/plain"), sampleText.toUtf8());
        QCOMPARE(readClipboardElsewhere("image/png"), sampleImage());
        owner.kill();
        owner.waitForFinished();
    }

    void alertButtonsKeepTheirOrder()
    {
        QtAlertPresenter presenter;
        Alert alert;
        alert.title = "Accessibility Permission Required";
        alert.informativeText = "Some text";
        alert.buttons = {"Open Settings", "Move to Applications", "Later"};

        auto answered = presenter.runModal(alert);
        QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QCOMPARE(box->text(), alert.title);
        QCOMPARE(box->informativeText(), alert.informativeText);
        QList<QAbstractButton *> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(),
                  [](QAbstractButton *a, QAbstractButton *b) { return a->x() < b->x(); });
        QStringList shown;
        for (QAbstractButton *button : buttons)
            shown.append(button->text());
        QCOMPARE(shown, alert.buttons);
        buttons[1]->click();
        QCOMPARE(QCoro::waitFor(answered), 1001);

        // Escape answers the last button.
        auto dismissed = presenter.runModal(alert);
        QTRY_VERIFY(QApplication::activeModalWidget());
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
        QCOMPARE(QCoro::waitFor(dismissed), 1002);
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--own-clipboard") == 0)
        return ownClipboard(argc, argv);
    if (argc > 2 && qstrcmp(argv[1], "--read-clipboard") == 0)
        return readClipboard(argc, argv, argv[2]);
    QApplication app(argc, argv);
    TestTypingX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_typing_x11.moc"
