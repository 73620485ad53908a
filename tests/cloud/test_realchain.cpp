// The whole chain, nothing faked: speech played into the harness's virtual microphone, captured from
// PulseAudio, decoded by a real tellwind-server; and Spanish through the program on the harness's desktop
// and tellwind-server to a scripted OpenAI-compatible upstream, typed into a GTK text field.
#include "app/ProcessRig.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeWorkspace.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechService.h"
#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"

#include <QRect>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace
{

const QString ready = QStringLiteral("✅ Window configured as floating borderless");
const QString build = qEnvironmentVariable("TELLWIND_BUILD_DIR");
const QString target = QStringLiteral("TellwindUpstreamTarget");
// The panel's controls, from its top-left corner.
constexpr QPoint microphone { 45, 45 }, provider { 98, 28 }, flag { 98, 62 };

// Until a line of `child` starts with `text`, the event loop running (the scripted upstream lives in it).
bool waitForLine(Child &child, const QString &text, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return (u'\n' + child.log()).contains(u'\n' + text); }, timeoutMs);
}

} // namespace

class TestRealChain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<Child> m_bus;

    std::unique_ptr<Child> start(const QString &program, const QStringList &arguments)
    {
        auto child = std::make_unique<Child>(m_environment);
        child->process().setWorkingDirectory(m_dir.path());
        child->start(program, arguments);
        return child;
    }
    QString run(const QString &program, const QStringList &arguments)
    {
        auto child = start(program, arguments);
        child->process().waitForFinished(30000);
        return child->lines().join(u'\n');
    }
    QString xdotool(const QStringList &arguments) { return run(QStringLiteral("xdotool"), arguments); }
    QString focusedWindow() { return xdotool({ "getwindowfocus", "getwindowname" }); }
    QRect geometry(const QString &title)
    {
        const QStringList shell = xdotool({ "search", "--sync", "--onlyvisible", "--name", '^' + title + '$',
                                              "getwindowgeometry", "--shell" })
                                      .split(u'\n');
        const auto value = [&shell](int line) { return shell.value(line).section(u'=', 1).toInt(); };
        return { value(1), value(2), value(3), value(4) };
    }
    void click(QPoint point)
    {
        xdotool({ "mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1" });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (qEnvironmentVariableIsEmpty("TELLWIND_HARNESS"))
            QSKIP("needs the harness's desktop and PulseAudio");
        m_bus = Child::start(QProcessEnvironment::systemEnvironment(), QStringLiteral("dbus-daemon"),
            { "--session", "--nofork", "--nopidfile", "--print-address=1" });
        QVERIFY(m_bus->waitForLine(QStringLiteral("unix:")));
        m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->lines().value(0));
        m_environment.insert(QStringLiteral("PULSE_COOKIE"),
            m_environment.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/pulse/cookie"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    }

    void dictationReachesTheServerAndComesBack()
    {
        ServerProcess server;
        QVERIFY(server.start());

        // Two phrases, the pause between them where the first upload cuts.
        const QByteArray first = spokenPcm(QStringLiteral("hello world"));
        const QByteArray second = spokenPcm(QStringLiteral("this is a test of the dictation system"));
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        const auto silence = [](qsizetype bytes) { return QByteArray(bytes & ~1, '\0'); };
        QFile pcm(m_dir.filePath(QStringLiteral("dictation.raw")));
        QVERIFY(pcm.open(QIODevice::WriteOnly));
        pcm.write(
            silence(9600) + first + silence(qsizetype(5.2 * 32000) - first.size()) + second + silence(16000));
        pcm.close();

        SpeechService speech(server.baseUrl());
        speech.setBufferInterval(5s);
        speech.setLanguage(QStringLiteral("en-US"));
        QSignalSpy uploads(&speech, &SpeechService::uploadFinished);
        FakeAlertPresenter alerts;
        FakeWorkspace workspace;
        AudioRecordingService capture(PulseAudioEngine::factory(), alerts, workspace);

        // As the recognition manager wires them: capture first, then the stream.
        const auto error = QCoro::waitFor(capture.startRecording([&speech](QByteArray chunk) {
            QMetaObject::invokeMethod(&speech, [&speech, chunk] { speech.audioBuffer().append(chunk); });
        }));
        QVERIFY2(!error, error ? qPrintable(error->errorDescription()) : "");
        QCoro::waitFor(speech.startStreaming());

        // A short latency keeps the virtual microphone close behind the player.
        auto player = start(QStringLiteral("paplay"),
            { "--raw", "--format=s16le", "--rate=16000", "--channels=1", "--latency-msec=30", "-d", "spk",
                pcm.fileName() });
        QTRY_COMPARE_WITH_TIMEOUT(player->process().state(), QProcess::NotRunning, 20000);
        QCOMPARE(player->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(player->process().exitCode(), 0);
        QTest::qWait(500);

        QCoro::waitFor(capture.stopRecording());
        QCoro::waitFor(speech.stopStreaming());
        QTRY_COMPARE_WITH_TIMEOUT(speech.transcribedText(),
            QStringLiteral("hello world this is a test of the dictation system"), 20000);
        QVERIFY(uploads.count() >= 2);
        QVERIFY(speech.errorMessage().isNull());
        QVERIFY(alerts.shown.isEmpty());
    }

    void spanishThroughTheUpstreamIsTypedExactly()
    {
        ScriptedHttpServer upstream;
        upstream.script = { { 200, R"({"text":" hola señor\n"})" } };
        upstream.fallback = { 200, R"({"text":""})" }; // later uploads (silence, the last piece)

        ServerProcess server({ "--decoders", "1", "--upstream", upstream.baseUrl() + "/v1" });
        QVERIFY(server.start());
        QSettings settings(m_dir.filePath("config/Tellwind/Tellwind.conf"), QSettings::IniFormat);
        settings.setValue("hasCompletedOnboarding", true);
        settings.setValue("serverBaseURL", server.baseUrl());
        settings.sync(); // before the program reads it

        // A GTK text field, which takes the ñ through the clipboard.
        auto field = start(QStringLiteral("zenity"), { "--text-info", "--editable", "--title", target });
        for (int attempt = 0; attempt < 50 && focusedWindow() != target; ++attempt, QTest::qWait(100))
            xdotool({ "search", "--sync", "--onlyvisible", "--name", '^' + target + '$', "windowfocus" });
        QCOMPARE(focusedWindow(), target);

        auto tellwind = start(build + QStringLiteral("/tellwind"), {});
        QVERIFY(waitForLine(*tellwind, ready));
        const QRect panel = geometry(QStringLiteral("Tellwind"));
        click(panel.topLeft() + provider);
        QVERIFY(waitForLine(*tellwind, QStringLiteral("🔄 [STT] Preferred provider toggled to: Server")));
        click(panel.topLeft() + flag);
        QTRY_COMPARE(focusedWindow(), QStringLiteral("Tellwind Languages"));
        const int allRows = geometry(QStringLiteral("Tellwind Languages")).height();
        xdotool({ "type", "--delay", "30", "spain" });
        QRect found;
        QTRY_VERIFY((found = geometry(QStringLiteral("Tellwind Languages"))).height() < allRows);
        click(found.topLeft() + QPoint(found.width() / 2, found.height() - 20));
        QVERIFY(waitForLine(*tellwind, QStringLiteral("🌐 [STT] Language set to: Spanish (Spain) (es-ES)")));
        QTRY_COMPARE(focusedWindow(), target);

        run(QStringLiteral("flite"),
            { "-voice", "kal16", "-t", "hola senior", "-o", m_dir.filePath(QStringLiteral("speech.wav")) });
        click(panel.topLeft() + microphone);
        QVERIFY(waitForLine(*tellwind, QStringLiteral("✅ Recording started with ☁️ Server")));
        QVERIFY(waitForLine(*tellwind, QStringLiteral("🌐 [Speech] Sending ")));
        auto player
            = start(QStringLiteral("paplay"), { "-d", "spk", m_dir.filePath(QStringLiteral("speech.wav")) });
        QTRY_COMPARE_WITH_TIMEOUT(player->process().state(), QProcess::NotRunning, 20000);
        click(panel.topLeft() + microphone);
        QVERIFY(waitForLine(*tellwind, QStringLiteral("✅ Recording stopped"), 30000));
        QTRY_VERIFY_WITH_TIMEOUT(!upstream.requests.isEmpty(), 20000);
        // Typing has ended when the program has logged nothing for 1.5 s.
        for (qsizetype seen = -1; seen != tellwind->lines().size(); QTest::qWait(1500))
            seen = tellwind->lines().size();

        // The upstream was asked in Spanish.
        QVERIFY(upstream.requests.first().body.contains("name=\"language\"\r\n\r\nes\r\n"));
        // Out of the text, onto the dialog's buttons, OK: it prints what the field holds.
        QCOMPARE(focusedWindow(), target);
        for (const char *key : { "ctrl+Tab", "Tab", "Return" })
            xdotool({ "key", key });
        QVERIFY(field->process().waitForFinished(10000));
        const QString typed = QString::fromUtf8(field->process().readAllStandardOutput());
        QVERIFY2(typed.chopped(typed.endsWith(u'\n') ? 1 : 0) == QStringLiteral("hola señor"),
            qPrintable(QStringLiteral("typed '%1', log:\n%2").arg(typed, tellwind->lines().join(u'\n'))));
    }
};

QTEST_GUILESS_MAIN(TestRealChain)
#include "test_realchain.moc"
