// Tellwind's own windows as the program builds them, driven through their items,
// over a real AppState and real managers whose platform ends are fakes.

#include "app/AppState.h"
#include "app/ErrorReporter.h"
#include "app/LanguageAvailability.h"
#include "app/LanguageCatalog.h"
#include "app/LanguageNames.h"
#include "app/OnboardingManager.h"
#include "app/PopupFocus.h"
#include "app/QmlTypes.h"
#include "app/SettingsWindow.h"
#include "app/SettingsWriteAlert.h"
#include "app/SpeechSettings.h"
#include "desktop/WindowPositionManager.h"
#include "fakes/FakeCursorIndicator.h"
#include "fakes/FakeDictationRecognizer.h"
#include "fakes/FakeDictationTyping.h"
#include "fakes/FakeNotifier.h"
#include "platform/SessionInfo.h"
#include "platform/WindowSystem.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "support/DesktopServices.h"
#include "support/PrivatePulseAudio.h"
#include "support/QuickItems.h"
#include "support/RecognitionRig.h"
#include "support/ScriptedHttpServer.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QRasterWindow>
#include <QScreen>
#include <QStandardPaths>

namespace
{

// The settings window and the walk-through (no sound sources unless the test names a lister).
struct Fixture {
    FakeStatusBar *statusBar = new FakeStatusBar;
    FakeAutostartStore *autostart = new FakeAutostartStore;
    GlobalHotkeyManager hotkey { std::make_unique<FakeKeyMonitor>() };
    MenuBarManager menuBar { std::unique_ptr<StatusBar>(statusBar) };
    LaunchAtLoginManager launchAtLogin;
    WindowPositionManager windowPosition;
    AuthManager auth;
    FakeWorkspace workspace;
    bool trusted = false; // the typing permission
    OnboardingManager onboarding { [this] { return trusted; }, {}, workspace, "/usr/bin/tellwind" };
    SpeechSettings speech;
    PlatformStatus platform;
    QQmlEngine engine;
    SettingsWindow settings { engine, workspace };
    std::unique_ptr<QQuickWindow> walkthrough;

    // Tellwind as installed, unless it runs from `program`.
    explicit Fixture(
        SpeechSettings::SourceLister sources = [] { return QList<QPair<QString, QString>>(); },
        const QString &program = QStringLiteral("/usr/bin/tellwind"))
        : launchAtLogin(std::unique_ptr<AutostartStore>(autostart), program)
        , speech(std::move(sources))
    {
        provideQmlObjects(engine,
            { .speechSettings = &speech,
                .launchAtLoginManager = &launchAtLogin,
                .hotkeyManager = &hotkey,
                .menuBarManager = &menuBar,
                .windowPositionManager = &windowPosition,
                .authManager = &auth,
                .onboardingManager = &onboarding,
                .platformStatus = &platform });
    }
    // The walk-through as a start makes it; shown only when it is due.
    QQuickWindow *openWalkthrough()
    {
        QQmlComponent component(&engine, QUrl("qrc:/Tellwind/Views/OnboardingViewSheet.qml"));
        walkthrough.reset(qobject_cast<QQuickWindow *>(component.create()));
        return walkthrough.get();
    }

    // Items of the walk-through while it is open, else of the settings window.
    QQuickItem *item(const QString &name) const
    {
        QQuickWindow *window = walkthrough ? walkthrough.get() : settings.window();
        return findVisibleItem(window ? window->contentItem() : nullptr, name);
    }
    QString text(const QString &name) const { return itemText(item(name)); }
    bool click(const QString &name) const { return clickItem(item(name)); }
    bool isOn(const QString &toggle) const { return item(toggle + "Switch")->property("checked").toBool(); }
    bool press(const QString &button) const { return QMetaObject::invokeMethod(item(button), "clicked"); }
    QStringList microphones() const
    {
        QStringList names;
        if (QQuickItem *box = item("microphoneBox"))
            for (const QVariant &entry : box->property("model").toList())
                names << entry.toMap().value("description").toString();
        return names;
    }
    // The field as a user types into it, and then, unless still `typing`, leaves it.
    void enterAddress(const QString &address, bool typing = false) const
    {
        QQuickItem *field = item("serverField");
        field->setProperty("text", address);
        QMetaObject::invokeMethod(field, "textEdited");
        if (!typing)
            QMetaObject::invokeMethod(field, "editingFinished");
    }
    static QString stored(const QString &key) { return Settings::stringValue(key).value_or("<none>"); }
};

QString focused(QQuickWindow *window)
{
    QQuickItem *item = window ? window->activeFocusItem() : nullptr;
    return item ? item->objectName() : QString();
}

// Presses `key` until `name` has the focus, as a user walking the controls.
bool keyTo(QQuickWindow *window, const QString &name, Qt::Key key = Qt::Key_Tab,
    Qt::KeyboardModifiers modifiers = {})
{
    for (int step = 0; step < 30 && focused(window) != name; ++step)
        QTest::keyClick(window, key, modifiers);
    return focused(window) == name;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

    struct Rig {
        FakeDictationRecognizer recognizer;
        FakeCursorIndicator indicator;
        FakeDictationTyping typing;
        AppState state { recognizer, indicator, typing };
        DesktopServices desktop;
        std::unique_ptr<WindowSystem> windowSystem = WindowSystem::create(SessionInfo::current());
        AppDelegate delegate { state, typing, *windowSystem, desktop.services() };
        FakeNotifier notifier;
        ErrorReporter reporter { notifier };
        LanguageAvailability availability { [](const QString &code) {
            return code == QLatin1String("en-US");
        } };
        RecognitionRig speech;
        SpeechRecognitionManager &manager = speech.make();
        QQmlApplicationEngine engine;
    };
    std::unique_ptr<Rig> rig;
    QQuickWindow *window = nullptr;

    QQuickItem *item(const char *name) const { return window->findChild<QQuickItem *>(name); }
    QQuickWindow *picker() const { return window->findChild<QQuickWindow *>("languagePicker"); }
    QQuickItem *pickerItem(const char *name) const { return picker()->findChild<QQuickItem *>(name); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); // as the program does
        rig = std::make_unique<Rig>();
        rig->reporter.follow(rig->state);
        // As in the program, the controller's language reaches the manager.
        connect(&rig->recognizer, &FakeDictationRecognizer::selectedLanguageChanged, &rig->manager,
            &SpeechRecognitionManager::setLanguage);
        provideQmlObjects(rig->engine,
            { .appState = &rig->state,
                .errorReporter = &rig->reporter,
                .languageAvailability = &rig->availability,
                .recognitionManager = &rig->manager,
                .hotkeyManager = &rig->desktop.hotkeyManager,
                .windowSystem = rig->windowSystem.get() });
        rig->engine.load(QUrl(QStringLiteral("qrc:/Tellwind/Views/MainWindow.qml")));
        window = qobject_cast<QQuickWindow *>(rig->engine.rootObjects().value(0));
        QVERIFY(window);
        rig->delegate.configureWindow(window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void init()
    {
        QFile::remove(Settings::filePath());
        Settings::setString(AuthManager::baseURLKey, QStringLiteral("http://127.0.0.1:8750"));
    }

    // The panel shows a failure on the microphone, to the pointer and to a screen reader.
    void failuresAndTooltips()
    {
        QQuickItem *button = item("voiceButton");
        auto rim = [button] { return button->property("rimColor").value<QColor>(); };
        auto tooltip = [button] { return button->property("tooltip").toString(); };
        const QString refused = QStringLiteral("Network error: Connection refused");

        clickItem(button);
        QTRY_VERIFY(rig->state.isRecording());
        const QColor recording = rim();
        rig->recognizer.publishError(refused);
        QTRY_COMPARE(rim(), QColor("#ffb020"));
        QTRY_COMPARE(tooltip(), refused);
        auto tip
            = [button] { return button->findChild<QQuickWindow *>("hoverTip")->property("text").toString(); };
        QCOMPARE(tip(), refused);

        // The next result clears both: red again, and the tooltip says what a click does.
        rig->recognizer.publishTranscript(QStringLiteral("hello"));
        const QString stop = "Stop dictation (" + rig->desktop.hotkeyManager.hotkeyText() + ")";
        QTRY_COMPARE(tooltip(), stop);
        QCOMPARE(rim(), recording);
        QCOMPARE(tip(), stop);
        clickItem(button);
        QTRY_VERIFY(!rig->state.isRecording());

        // A start that fails says why; the next one that works clears it.
        rig->recognizer.startError = refused;
        clickItem(button);
        QTRY_COMPARE(tooltip(), refused);
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Description), refused);
        QVERIFY(!rig->state.isRecording());
        rig->recognizer.startError.clear();
        clickItem(button);
        QTRY_VERIFY(rig->state.isRecording());
        QTRY_COMPARE(tooltip(), stop);
        clickItem(button);
        QTRY_VERIFY(!rig->state.isRecording());

        // Wherever the panel (hardly more than its buttons) is, tooltips are whole and leave it in sight.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const char *const buttons[] = { "voiceButton", "providerButton", "flagButton" };
        for (const QPoint corner : { QPoint(screen.left(), screen.center().y()),
                 QPoint(screen.right() - 121, screen.bottom() - 89), screen.topLeft() }) {
            window->setPosition(corner);
            QTRY_COMPARE(window->position(), corner);
            QRect all;
            for (const char *name : buttons)
                all |= QRect(item(name)->mapToScene(QPointF(0, 0)).toPoint(), item(name)->size().toSize());
            QVERIFY(all.width() >= window->width() - 24 && all.height() >= window->height() - 24);
            for (const char *name : buttons) {
                auto *hover = item(name)->findChild<QQuickWindow *>("hoverTip");
                QVERIFY(hover && !hover->property("text").toString().isEmpty());
                QVERIFY(QMetaObject::invokeMethod(hover, "reveal"));
                QVERIFY(QTest::qWaitForWindowExposed(hover));
                QCOMPARE(screen.intersected(hover->geometry()), hover->geometry());
                QVERIFY2(!hover->geometry().intersects(window->geometry()), name);
                QMetaObject::invokeMethod(hover, "dismiss");
                QTRY_VERIFY(!hover->isVisible());
            }
        }
    }

    void pickerMarksWhatCannotBeRecognisedAndWorksByKeyboard()
    {
        ScriptedHttpServer http;
        http.fallback
            = ScriptedHttpServer::Reply(200, R"({"languages":[{"code":"es-ES","engine":"upstream"}]})");
        Settings::setString(QStringLiteral("serverBaseURL"), http.baseUrl());
        QQuickItem *flag = item("flagButton");
        QVERIFY(clickItem(flag));
        QTRY_VERIFY(picker() && picker()->isVisible());
        QTRY_COMPARE(http.requests.size(), 1); // opening it asks the server again
        QTRY_COMPARE(rig->availability.server(), LanguageAvailability::Server::reachable);

        auto firstRow = [this](const QString &search) -> QQuickItem * {
            pickerItem("searchField")->setProperty("text", search);
            QQuickItem *row = nullptr;
            const bool found = QTest::qWaitFor([&] {
                return QMetaObject::invokeMethod(pickerItem("languageList"), "itemAtIndex",
                           Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0))
                    && row
                    && row->property("language").value<SupportedLanguage>().displayName().startsWith(search);
            });
            return found ? row : nullptr;
        };
        QQuickItem *french = firstRow(QStringLiteral("French"));
        QVERIFY(french && french->findChild<QQuickItem *>("unavailableMark")->isVisible());
        QCOMPARE(french->property("unavailableMark").toString(), QStringLiteral("Not available"));
        QVERIFY(french->property("tooltip").toString().contains(QStringLiteral("No speech model")));
        QQuickItem *spanish = firstRow(QStringLiteral("Spanish"));
        QVERIFY(spanish && spanish->property("unavailableMark").toString().isEmpty());
        QCOMPARE(spanish->property("tooltip").toString(), QString());
        // A marked language can still be chosen; the flag follows.
        QVERIFY(clickItem(firstRow(QStringLiteral("French"))));
        QTRY_VERIFY(!picker()->isVisible());
        QCOMPARE(rig->recognizer.calls.last(), QStringLiteral("language:fr-FR"));
        QTRY_COMPARE(
            flag->property("tooltip").toString(), QStringLiteral("Select language: French (France)"));

        // The tray's "Choose Language…" opens the picker with its search focused; keys do the rest.
        const int down = Qt::Key_Down, up = Qt::Key_Up, enter = Qt::Key_Return, escape = Qt::Key_Escape;
        const struct {
            QString typed;
            QList<int> keys;
            QString chosen;
        } cases[] = { { "germ", { enter }, "de-DE" }, // the first match
            { "span", { down, down, down, down, enter }, "es-US" }, // Down stops at the last row
            { "span", { down, down, up, up, up, int(Qt::Key_Enter) }, "es-ES" }, // Up at the first
            { "span", { down, escape }, "" }, { "zzz", { enter, escape }, "" }, // nothing to choose
            { "deutsch", { enter }, "de-DE" }, { "pt-br", { enter }, "pt-BR" } };
        for (const auto &[typed, keys, chosen] : cases) {
            const qsizetype before = rig->recognizer.calls.size();
            rig->delegate.chooseLanguage();
            QTRY_VERIFY(picker() && picker()->isVisible());
            QTRY_VERIFY(pickerItem("searchField")->hasActiveFocus());
            for (const QChar character : typed)
                QTest::keyClick(picker(), character.toLatin1());
            QTRY_COMPARE(pickerItem("searchField")->property("text").toString(), typed);
            QTRY_COMPARE(pickerItem("noMatch")->isVisible(), LanguageCatalog::filtered(typed).isEmpty());
            for (int key : keys)
                QTest::keyClick(picker(), Qt::Key(key));
            QTRY_VERIFY(!picker()->isVisible());
            QCOMPARE(rig->recognizer.calls.mid(before),
                chosen.isEmpty() ? QStringList() : QStringList { "language:" + chosen });
        }
    }

    // A language is found by any name a user may know it by, or a code; popups go beside the panel.
    void languagesByAnyNameAndPlacements()
    {
        const QList<QPair<QString, QString>> searches { { "German", "de-DE" }, { "Deutsch", "de-DE" },
            { "ESPAÑOL", "es-ES" }, { "日本語", "ja-JP" }, { "русский", "ru-RU" }, { "nl", "nl-NL" },
            { "deu", "de-DE" }, { "jpn", "ja-JP" }, { "ger", "de-DE" }, { "fr-CA", "fr-CA" },
            { "  polski ", "pl-PL" }, { "qqq", "" } };
        for (const auto &[search, first] : searches) {
            const QList<SupportedLanguage> found = LanguageCatalog::filtered(search);
            QCOMPARE(found.isEmpty() ? QString() : found.first().rawValue(), first);
        }
        const QRect single(0, 0, 1280, 800), rightMonitor(1280, 0, 1280, 800);
        const struct {
            QRect panel, screen;
            QPoint expected;
        } placements[] = { { { 1000, 100, 190, 160 }, single, { 744, 30 } }, // no room on the right
            { { 1400, 300, 190, 160 }, rightMonitor, { 1596, 230 } },
            { { 2300, 300, 190, 160 }, rightMonitor, { 2044, 230 } }, // its right edge
            { { 100, 700, 190, 160 }, single, { 296, 500 } }, // kept above the bottom
            { { 100, 0, 190, 160 }, { 0, 30, 1280, 770 }, { 296, 30 } }, // kept below a top bar
            { { 100, 100, 190, 160 }, {}, { 296, 30 } } }; // screen unknown
        for (const auto &[panel, screen, expected] : placements)
            QCOMPARE(PopupFocus::besideAnchor(panel, QSize(250, 300), screen, 6), expected);
        // Settings go right of the panel, else left, below or above; inside the screen.
        const QMargins frame(2, 30, 2, 2); // a usual title bar and borders
        const QSize tall(520, 560), wide(900, 400);
        const struct {
            QRect panel;
            QSize size;
            QPoint expected;
        } cases[] = { { { 579, 355, 122, 90 }, tall, { 715, 133 } }, // centred: right
            { { 1150, 355, 122, 90 }, tall, { 616, 133 } }, // at the right edge: left
            { { 1150, 0, 122, 90 }, tall, { 616, 30 } }, // kept below the top
            { { 1150, 700, 122, 90 }, tall, { 616, 238 } }, // kept above the bottom
            { { 579, 0, 122, 90 }, wide, { 189, 132 } }, // wide, panel on top: below
            { { 579, 700, 122, 90 }, wide, { 189, 286 } } }; // wide, panel at the bottom: above
        for (const auto &[panel, size, expected] : cases) {
            const QPoint at = SettingsWindow::besidePanel(panel, size, single, frame);
            QCOMPARE(at, expected);
            const QRect outer = QRect(at, size).marginsAdded(frame);
            QVERIFY(single.contains(outer) && !outer.intersects(panel));
        }

        // A name left out of the translatable list stays English on every other desktop.
        QStringList names;
        for (const SupportedLanguage &language : SupportedLanguage::allCases())
            names << language.displayName();
        QCOMPARE(names, translatableLanguageNames());
    }

    // Speech over a real sound server, run from a build folder: the login switch says why it is off.
    void speechSectionTestsTheServerAndChoosesTheMicrophone()
    {
        PrivatePulseAudio pulse({ "module-null-source source_name=studio description='Studio Microphone'" });
        QVERIFY(pulse.start());
        const QByteArray previous = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", pulse.server().toUtf8());
        auto restore = qScopeGuard([previous] { qputenv("PULSE_SERVER", previous); });
        ScriptedHttpServer http;
        http.fallback = ScriptedHttpServer::Reply(200,
            R"({"languages":[{"code":"en-US","engine":"pocketsphinx"},{"code":"es-ES","engine":"upstream"}]})");
        Fixture f(&PulseAudioEngine::inputSources, QStringLiteral("/home/user/src/tellwind/build/tellwind"));
        f.settings.open();
        QQuickWindow *window = f.settings.window();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QVERIFY(!f.item("launchAtLoginToggle")->isEnabled());
        QVERIFY(f.text("loginStatus").contains("/home/user/src/tellwind/build"));
        f.launchAtLogin.setIsEnabled(true);
        QVERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));
        QVERIFY(f.autostart->calls.isEmpty());
        QTRY_COMPARE(f.text("serverField"), QString("http://127.0.0.1:8750"));
        // The whole section is in sight on a 1280 x 800 screen.
        QVERIFY(window->screen()->availableGeometry().contains(window->geometry()));
        QQuickItem *box = f.item("microphoneBox");
        QVERIFY(box && box->mapToScene(QPointF(0, box->height())).y() <= window->height());

        // An unusable address is refused with the reason (Test asks nothing); a usable one is kept.
        const QString old = QStringLiteral("http://10.1.2.3:8750");
        const char *scheme = "must start with http:// or https://", *host = "server's name or IP address";
        const QList<QPair<QString, const char *>> addresses { { "nonsense address", scheme },
            { "127.0.0.1:8750", scheme }, { "ftp://speech.example.org", scheme }, { "http://", host },
            { "https:///api", host }, { "http://speech example.org", "not a valid web address" },
            { "https://speech.example.org:8443/tellwind", nullptr }, { "  http://[::1]:8750 ", nullptr },
            { "HTTP://LOCALHOST:8750", nullptr } };
        for (const auto &[typed, problem] : addresses) {
            f.enterAddress(old);
            f.enterAddress(typed);
            QCOMPARE(f.stored(SpeechSettings::serverBaseURLKey), problem ? old : typed.trimmed());
            if (!problem) {
                QTRY_VERIFY2(!f.item("serverAddressProblem"), qPrintable(typed));
                continue;
            }
            const auto told = [&f] { return f.text("serverAddressProblem"); };
            QTRY_VERIFY2(told().contains(problem) && told().contains(old), qPrintable(told()));
            QVERIFY(f.press("serverTestButton"));
            QVERIFY(!f.speech.isTesting() && !f.item("serverTestResult"));
        }

        // The address typed is what is tested, and kept.
        f.item("serverField")->setProperty("text", http.baseUrl());
        QVERIFY(f.press("serverTestButton"));
        QTRY_COMPARE(f.text("serverTestResult"), QString("The server recognizes 2 languages: en-US, es-ES"));
        QCOMPARE(f.stored(SpeechSettings::serverBaseURLKey), http.baseUrl());
        // What was said about an address goes as soon as it is edited.
        f.enterAddress(http.baseUrl() + "/", true);
        QTRY_VERIFY(!f.item("serverTestResult"));
        f.item("serverField")->setProperty("text", "http://127.0.0.1:1"); // nothing listens there
        QVERIFY(f.press("serverTestButton"));
        QTRY_VERIFY(f.text("serverTestResult").startsWith("No answer: "));
        f.enterAddress(http.baseUrl());
        QTRY_VERIFY(!f.item("serverTestResult"));

        // Sources by description, the default first; a choice is stored by name and opened by a capture.
        QTRY_COMPARE(f.microphones().size(), 3);
        QCOMPARE(f.microphones().first(), QString("System default"));
        const int studio = int(f.microphones().indexOf("Studio Microphone"));
        QVERIFY2(studio > 0 && QMetaObject::invokeMethod(box, "activated", Q_ARG(int, studio)),
            qPrintable(f.microphones().join(", ")));
        QCOMPARE(f.stored(SpeechSettings::microphoneKey), QString("studio"));
        const std::unique_ptr<AudioEngine> engine = PulseAudioEngine::factory()();
        QCOMPARE(static_cast<PulseAudioEngine *>(engine.get())->sourceName(), QString("studio"));
        // One unplugged stays chosen, with a word on what is used meanwhile.
        f.speech.setMicrophone("usb-headset");
        QTRY_VERIFY(f.text("microphoneNotice").contains("usb-headset"));
        QCOMPARE(box->property("displayText").toString(), QString("usb-headset"));
        QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, 0)));
        QVERIFY(!Settings::contains(SpeechSettings::microphoneKey));
        QTRY_VERIFY(!f.item("microphoneNotice"));
    }

    // The tray's entries say what they do now; "Settings…" opens one ordinary window beside the panel.
    void fromTheTrayThroughEveryTab()
    {
        Fixture f;
        AppDelegate delegate { rig->state, rig->typing, *rig->windowSystem,
            AppDelegate::Services { f.auth, f.launchAtLogin, f.hotkey, f.menuBar, &f.settings } };
        delegate.applicationDidFinishLaunching();
        QVERIFY(f.statusBar->item && f.statusBar->item->menu);
        auto entries = [&f] {
            QStringList texts;
            for (QAction *action : f.statusBar->item->menu->actions())
                texts << action->text() + (action->shortcut().isEmpty() ? "" : " [shortcut]");
            return texts;
        };
        QCOMPARE(entries(),
            (QStringList {
                "Start Dictation", "", "Show Panel", "Choose Language…", "Settings…", "", "Quit Tellwind" }));
        for (const char *first : { "Stop Dictation", "Start Dictation" }) {
            rig->state.toggleFromPanel();
            QTRY_COMPARE(entries().first(), QString(first));
        }
        // The tray's item makes its menu anew.
        auto openSettings = [&f] {
            f.statusBar->item->menu->actions().value(4)->trigger();
            QQuickWindow *window = f.settings.window();
            return window && QTest::qWaitForWindowExposed(window) ? window : nullptr;
        };
        QPointer<QQuickWindow> window = openSettings();
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        QCOMPARE(window->title(), QString("Tellwind Settings"));
        // An ordinary window, not a panel or tool window, brought back rather than made twice.
        QCOMPARE(window->flags() & (Qt::WindowType_Mask | Qt::FramelessWindowHint), Qt::Window);
        QCOMPARE(openSettings(), window);

        // Tab walks the tabs, then the page (Speech first); Space, Enter flip; Ctrl+Tab goes round.
        auto press = [&window](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(window, key, modifiers);
        };
        QTRY_COMPARE(focused(window), QString("tabGeneral"));
        QStringList order;
        for (int step = 0; step < 30 && (order.isEmpty() || order.last() != "tabGeneral"); ++step) {
            press(Qt::Key_Tab);
            order << focused(window);
        }
        QCOMPARE(order.mid(0, 6),
            (QStringList { "tabAccount", "tabHotkey", "tabAppearance", "serverField", "serverTestButton",
                "microphoneBox" }));
        QCOMPARE(order.last(), QString("tabGeneral"));
        for (const char *control : { "launchAtLoginToggleSwitch", "menuBarToggleSwitch" })
            QVERIFY2(order.contains(control), qPrintable(order.join(", ")));
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(window), order.value(order.size() - 2));
        QVERIFY(keyTo(window, "menuBarToggleSwitch", Qt::Key_Backtab, Qt::ShiftModifier));
        // The tray's item goes at once, and the choice is remembered.
        press(Qt::Key_Space);
        QTRY_VERIFY(!f.menuBar.isEnabled() && !f.statusBar->item);
        press(Qt::Key_Return);
        QTRY_VERIFY(f.menuBar.isEnabled() && f.isOn("menuBarToggle"));
        press(Qt::Key_Tab, Qt::ControlModifier);
        QTRY_COMPARE(focused(window), QString("tabAccount"));
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(focused(window), QString("tabAppearance"));
        QTRY_VERIFY(f.item("resetPositionButton"));

        // Nothing starts at login until the user says so; a refused registration flips back.
        QVERIFY(f.click("tabGeneral"));
        QTRY_VERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));
        QVERIFY(f.click("launchAtLoginToggleSwitch") && f.launchAtLogin.isEnabled());
        QVERIFY(f.click("launchAtLoginToggleSwitch") && !f.launchAtLogin.isEnabled());
        QCOMPARE(f.autostart->calls, (QStringList { "register", "unregister" }));
        f.autostart->registerError = QStringLiteral("read-only autostart folder");
        QVERIFY(f.click("launchAtLoginToggleSwitch"));
        QTRY_VERIFY(!f.launchAtLogin.isEnabled() && !f.isOn("launchAtLoginToggle"));

        // Hotkey: off from here; a change made elsewhere shows in the open window.
        QVERIFY(f.click("tabHotkey"));
        QTRY_VERIFY(f.item("hotkeyToggle"));
        QVERIFY(f.click("hotkeyToggleSwitch") && !f.hotkey.isEnabled());
        f.hotkey.setIsEnabled(true);
        QTRY_VERIFY(f.isOn("hotkeyToggle"));
        // The shortcut in use, whichever it is, drawn key by key.
        QVERIFY(f.hotkey.recordHotkey(Qt::Key_K, int(Qt::ControlModifier | Qt::AltModifier)));
        QTRY_COMPARE(keyCaps(f.item("hotkeyCaps")), (QStringList { "Ctrl", "Alt", "K" }));

        // Signed out, in and out again; the fixture's token is kept as where no keyring answers.
        QVERIFY(f.click("tabAccount"));
        QTRY_VERIFY(f.item("signInButton") && !f.item("signOutButton"));
        QVERIFY(f.text("tokenStorageNote").contains("settings file"));
        QVERIFY(f.text("accountPurpose").contains("server recognition"));
        QVERIFY(f.click("signInButton") && f.workspace.openedUrls.size() == 1);
        User user;
        user.id = QStringLiteral("42");
        user.email = QStringLiteral("<b>ada</b>@example.com");
        f.auth.saveAuth(user, QStringLiteral("token-1"));
        QTRY_VERIFY(f.item("signOutButton") && !f.item("signInButton"));
        QCOMPARE(f.text("accountEmail"), user.email);
        QCOMPARE(f.item("accountEmail")->property("textFormat").toInt(), int(Qt::PlainText));
        QVERIFY(f.click("signOutButton") && !f.auth.isAuthenticated());
        QTRY_VERIFY(f.item("signInButton") && !f.item("accountEmail"));

        press(Qt::Key_Escape);
        QTRY_VERIFY(!window && !f.settings.window());

        // A panel at the program's first place, the middle, where a centred window would cover it.
        QQuickWindow panel;
        delegate.configureWindow(&panel);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        window = openSettings();
        QVERIFY(window);
        QTRY_VERIFY(window->frameGeometry().isValid());
        QCOMPARE(window->frameGeometry() & panel.frameGeometry(), QRect());
        QVERIFY(window->screen()->availableGeometry().contains(window->geometry()));
        // Larger at will, and smaller down to where it still works.
        QVERIFY(window->maximumWidth() > window->width() && window->maximumHeight() > window->height());
        QVERIFY(window->minimumWidth() < window->width() && window->minimumWidth() >= 300);
        QVERIFY(window->minimumHeight() < window->height() && window->minimumHeight() >= 300);
    }

    void unwritableSettingsAreToldOnce()
    {
        FakeAlertPresenter alerts;
        SettingsWriteAlert alert { alerts };
        const QString folder = QFileInfo(Settings::filePath()).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        // A file where the folder belongs: nobody, root included, can write there.
        QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        auto unblock = qScopeGuard([folder] { QFile::remove(folder); });
        QVERIFY(!Settings::setString(AuthManager::userKey, QStringLiteral("{}")));
        QVERIFY(!Settings::setString(AuthManager::tokenKey, QStringLiteral("token-1")));
        QVERIFY(alerts.shown.isEmpty()); // not from inside the write
        QTRY_COMPARE(alerts.shown.size(), 1);
        QVERIFY(!Settings::setBool(MenuBarManager::enabledKey, false));
        QTest::qWait(50);
        QCOMPARE(alerts.shown.size(), 1);
        QCOMPARE(alerts.shown.first().title, QString("Tellwind Cannot Save Its Settings"));
        QVERIFY(alerts.shown.first().informativeText.contains(Settings::filePath()));
    }

    // A first launch by keyboard; only the last page's switch registers the login item.
    void walkthroughByTheKeyboard()
    {
        for (const bool startAtLogin : { true, false }) { // as offered, or switched off
            init();
            Fixture f;
            QVERIFY(f.hotkey.recordHotkey(Qt::Key_J, int(Qt::ControlModifier | Qt::AltModifier)));
            QVERIFY(f.onboarding.shouldShowOnboarding());
            QQuickWindow *window = f.openWalkthrough();
            QVERIFY(window && window->isVisible() && QTest::qWaitForWindowActive(window));
            auto press = [&f, window](Qt::Key key) {
                QTest::keyClick(window, key);
                return QTest::qWaitFor(
                    [&f] { return f.item("pages") && !f.item("pages")->property("busy").toBool(); });
            };
            QStringList titles { f.text("pageTitle") };
            QVERIFY(!f.item("backButton"));
            QTRY_COMPARE(focused(window), QString("forwardButton"));
            QVERIFY(press(Qt::Key_Return));
            titles << f.text("pageTitle");
            QCOMPARE(keyCaps(f.item("welcomeShortcut")), (QStringList { "Ctrl", "Alt", "J" }));
            QCOMPARE(focused(window), QString("forwardButton"));
            QVERIFY(press(Qt::Key_Tab));
            QCOMPARE(focused(window), QString("backButton"));
            QVERIFY(press(Qt::Key_Enter));
            QCOMPARE(f.text("pageTitle"), titles.first());
            QVERIFY(press(Qt::Key_Space) && press(Qt::Key_Return));
            titles << f.text("pageTitle");
            QVERIFY(press(Qt::Key_Return));

            // Without the permission: the way to grant it, the login switch, and finishing anyway.
            titles << f.text("pageTitle");
            QCOMPARE(titles,
                (QStringList {
                    "Welcome to Tellwind", "Start and stop with a shortcut", "The panel", "Enable typing" }));
            QCOMPARE(focused(window), QString("finishButton"));
            QVERIFY(f.isOn("launchAtLoginToggle")
                && !Settings::contains(OnboardingManager::hasCompletedOnboardingKey));
            if (!startAtLogin) {
                QVERIFY(keyTo(window, "launchAtLoginToggleSwitch") && press(Qt::Key_Space));
                QVERIFY(!f.isOn("launchAtLoginToggle") && keyTo(window, "finishButton"));
            }
            f.trusted = true; // granted meanwhile, which shows
            QTRY_COMPARE(f.text("pageTitle"), QString("Typing is ready"));
            QVERIFY(f.autostart->calls.isEmpty());
            QTest::keyClick(window, Qt::Key_Return);
            QTRY_VERIFY(!window->isVisible());
            QVERIFY(Settings::boolValue(OnboardingManager::hasCompletedOnboardingKey, false));
            QCOMPARE(f.launchAtLogin.isEnabled(), startAtLogin);
            QCOMPARE(f.autostart->calls, startAtLogin ? QStringList { "register" } : QStringList());

            Fixture next;
            QVERIFY(!next.onboarding.shouldShowOnboarding() && !next.openWalkthrough()->isVisible());
        }
    }

    // The badge beside the real pointer (moved by the X server) follows it and lets clicks through.
    void cursorBadgeFollowsThePointer()
    {
        struct Target : QRasterWindow {
            int presses = 0;
            void mousePressEvent(QMouseEvent *) override { ++presses; }
        } target;
        target.setGeometry(500, 400, 200, 150);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "1270", "790" }), 0);
        CursorIndicatorService service(*rig->windowSystem);
        service.show();
        QWidget *badge = service.indicatorWindow();
        QVERIFY(QTest::qWaitForWindowExposed(badge));
        QCOMPARE(badge->geometry(), QRect(1218, 738, 32, 32));
        const Qt::WindowFlags wanted = Qt::WindowTransparentForInput | Qt::WindowStaysOnTopHint;
        QCOMPARE(badge->windowFlags() & wanted, wanted);
        QVERIFY(badge->property("isPulsing").toBool());
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 2290, 690 }, QRect(1280, 100, 1024, 600)),
            QPoint(2238, 638)); // a right-hand monitor's corner
        QCOMPARE(
            CursorIndicatorService::badgeOrigin({ 1400, 300 }, QRect(1280, 0, 1024, 600)), QPoint(1420, 310));
        QCOMPARE(CursorIndicatorService::badgeOrigin({ 400, 300 }, std::nullopt), QPoint(420, 310));

        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "540", "430" }), 0);
        QTRY_COMPARE(badge->pos(), QPoint(560, 440));
        QCOMPARE(QProcess::execute("xdotool", { "mousemove", "576", "456", "click", "1" }), 0);
        QTRY_COMPARE(target.presses, 1);
        service.hide(); // and nothing polls while idle
        QVERIFY(!badge->isVisible() && !service.isTracking());
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
