// The typing logic against recording fakes: a fake keyboard that also plays
// a US text field, so every case checks what the user would see.
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "output/Graphemes.h"
#include "output/KeyMapping.h"
#include "fakes/LogCapture.h"
#include "output/TextInsertionService.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <memory>

using Event = FakeKeyboardEventSink::Event;

class TestTextInsertion : public QObject
{
    Q_OBJECT

    FakeKeyboardEventSink keyboard;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    std::unique_ptr<TextInsertionService> service;

    void type(const QString &transcript) { QCoro::waitFor(service->insertText(transcript)); }
    // Key-downs since the last clear, read back as the characters they type.
    QString typedKeys() const
    {
        QString result;
        for (const Event &event : keyboard.keyDowns()) {
            if (event.keyCode == 51)
                result += u'⌫';
            else if (event.flags & KeyboardEventSink::commandFlag)
                result += QStringLiteral("⌘V");
            else
                result += FakeKeyboardEventSink::usCharacter(event.keyCode, event.flags & KeyboardEventSink::shiftFlag);
        }
        return result;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        keyboard = FakeKeyboardEventSink();
        pasteboard = FakePasteboard();
        keyboard.pasteboard = &pasteboard;
        trust = FakeAccessibilityTrust();
        alerts = FakeAlertPresenter();
        workspace = FakeWorkspace();
        bundle = FakeApplicationBundle();
        service = std::make_unique<TextInsertionService>(keyboard, trust, pasteboard, alerts, workspace, bundle);
    }

    void typesOnlyWhatChanged()
    {
        LogCapture log;
        type("Hello");
        QCOMPARE(keyboard.screen, QString("Hello"));
        QCOMPARE(typedKeys(), QString("Hello"));
        QCOMPARE(service->lastInsertedText(), QString("Hello"));
        QVERIFY(log.lines().contains("⌨️ [Insert] insertText called with: 'Hello'"));
        QVERIFY(log.lines().contains("⌨️ [Insert] Smart diff: delete 0 chars, type 'Hello'"));
        QVERIFY(log.lines().contains("✅ [Insert] Done"));

        keyboard.events.clear();
        type("Hello world");
        QCOMPARE(typedKeys(), QString(" world"));

        // A revised ending costs backspaces for the changed part only.
        type("Hello word");
        keyboard.events.clear();
        type("Hello world");
        QCOMPARE(typedKeys(), QString("⌫ld"));
        QCOMPARE(keyboard.screen, QString("Hello world"));

        keyboard.events.clear();
        type("Hello world");
        QVERIFY(keyboard.events.isEmpty());
        QVERIFY(log.lines().contains("⌨️ [Insert] Nothing to change, skipping"));

        // A shrinking text that still shares more than two characters is
        // corrected in place, not restarted.
        type("Hello world this is");
        keyboard.events.clear();
        type("Hello");
        QCOMPARE(keyboard.count(51), 14);
        QCOMPARE(keyboard.screen, QString("Hello"));
        QCOMPARE(service->lastInsertedText(), QString("Hello"));

        // A fresh recording starts from a blank diff.
        service->setLastInsertedText(QString());
        keyboard.clear();
        type("Again");
        QCOMPARE(keyboard.screen, QString("Again"));
    }

    void freshUtterancesAndLargeRevisionsStartANewSentence()
    {
        LogCapture log;
        type("This is a long sentence");
        QSignalSpy changes(service.get(), &TextInsertionService::lastInsertedTextChanged);
        type("Next");
        QCOMPARE(keyboard.screen, QString("This is a long sentence. Next"));
        QCOMPARE(keyboard.count(51), 0);
        QVERIFY(log.lines().contains("📝 [Insert] New sentence detected, adding separator"));
        // Emptied when the new sentence starts, then the new text.
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(0).at(0).toString(), QString());
        QCOMPARE(service->lastInsertedText(), QString("Next"));

        // The new sentence continues to diff against itself only.
        keyboard.events.clear();
        type("Next one");
        QCOMPARE(typedKeys(), QString(" one"));

        // After a question mark one space is enough.
        service->setLastInsertedText(QString());
        keyboard.clear();
        type("Is it raining?");
        type("Yes");
        QCOMPARE(keyboard.screen, QString("Is it raining? Yes"));

        // 30 backspaces are still a correction; 31 are not, and nothing
        // already typed is deleted.
        const QString base = QString("ab") + QString(30, u'x');
        service->setLastInsertedText(QString());
        keyboard.clear();
        type(base);
        type("abyyyyyyyyyyyyyyyyy");
        QCOMPARE(keyboard.count(51), 30);
        QCOMPARE(keyboard.screen, QString("abyyyyyyyyyyyyyyyyy"));

        const QString longer = QString("ab") + QString(31, u'x');
        service->setLastInsertedText(QString());
        keyboard.clear();
        type(longer);
        type("abzzzzzzzzzzzzzzzzz");
        QCOMPARE(keyboard.count(51), 0);
        QCOMPARE(keyboard.screen, longer + ". abzzzzzzzzzzzzzzzzz");
        QCOMPARE(service->lastInsertedText(), QString("abzzzzzzzzzzzzzzzzz"));
        QVERIFY(log.lines().contains("⚠️ [Insert] Correction too large (31 chars), treating as new sentence"));
    }

    void sentenceSeparatorRules()
    {
        auto separator = &TextInsertionService::sentenceSeparator;
        QCOMPARE(separator("", "Next"), QString());
        QCOMPARE(separator("Hello", "Next"), QString(". "));
        QCOMPARE(separator("Hello.", "Next"), QString(" "));
        QCOMPARE(separator("Wow!", "Next"), QString(" "));
        QCOMPARE(separator("Really?", "Next"), QString(" "));
        QCOMPARE(separator(u"Well\u2026"_qs, "Next"), QString(" "));
        QCOMPARE(separator(u"好\u3002"_qs, u"再见"_qs), QString(" "));
        QCOMPARE(separator(u"好\uFF1F"_qs, u"再见"_qs), QString(" "));
        // A comma or a space at the end is no sentence end.
        QCOMPARE(separator("Hello,", "Next"), QString(". "));
        QCOMPARE(separator("Hello ", "Next"), QString(". "));
        // Punctuation that opens the new text needs at most a space.
        QCOMPARE(separator("Hello", ", and more"), QString(" "));
        QCOMPARE(separator("Hello ", ", and more"), QString());
        QCOMPARE(separator("Hello.", "."), QString(" "));
        QCOMPARE(separator("Hello", u"\uFF0C好"_qs), QString(" "));
        QCOMPARE(separator("Hello", "\"quoted\""), QString(" "));
        QCOMPARE(separator("Hello", ""), QString(". "));
        // The last character is a whole user-perceived character.
        QCOMPARE(separator(u"Flag \U0001F1E9\U0001F1EA"_qs, "Next"), QString(". "));

        QCOMPARE(TextInsertionService::sentenceEndingPunctuation().size(), 7);
        QCOMPARE(TextInsertionService::punctuationCharacters().size(), 18);
    }

    void onlyTheNewestQueuedUpdateIsTyped()
    {
        LogCapture log;
        type("Hello");
        keyboard.events.clear();

        auto run = service->insertText("Hello there");
        QVERIFY(service->isTyping());
        // Three updates while the first run is typing: each replaces the one
        // before, and none of them starts a run of its own.
        for (const char *update : {"Hello there w", "Hello there wo", "Hello there world"})
            QCoro::waitFor(service->insertText(update));
        QCOMPARE(service->pendingText(), std::optional<QString>("Hello there world"));
        QVERIFY(log.lines().contains("⌨️ [Insert] Already typing, queued update"));

        QCoro::waitFor(run);
        QVERIFY(!service->isTyping());
        QVERIFY(!service->pendingText());
        QCOMPARE(typedKeys(), QString(" there world"));
        QCOMPARE(keyboard.screen, QString("Hello there world"));
        QCOMPARE(service->lastInsertedText(), QString("Hello there world"));
        QVERIFY(log.lines().contains("⌨️ [Insert] Processing queued text..."));

        // A run never interleaves with another: a text queued from inside a
        // key stroke waits for the run to end.
        keyboard.events.clear();
        bool queued = false;
        keyboard.onEvent = [&](const Event &) {
            if (!queued) {
                queued = true;
                auto ignored = service->insertText("Hello there world again");
                Q_UNUSED(ignored);
            }
        };
        type("Hello there world!");
        keyboard.onEvent = nullptr;
        QCOMPARE(typedKeys(), QString("!⌫ again"));
        QCOMPARE(keyboard.screen, QString("Hello there world again"));
    }

    void comparesUserPerceivedCharacters()
    {
        // A decomposed é is the same character as the precomposed one.
        type(u"Caf\u00E9"_qs);
        keyboard.events.clear();
        pasteboard.log.clear();
        type(u"Cafe\u0301"_qs);
        QVERIFY(keyboard.events.isEmpty());
        QVERIFY(pasteboard.log.isEmpty());

        // An accent arriving later changes the last character: one backspace.
        service->setLastInsertedText(QString());
        keyboard.clear();
        type("Cafe");
        type(u"Cafe\u0301 au lait"_qs);
        QCOMPARE(keyboard.count(51), 1);
        QCOMPARE(keyboard.screen, u"Caf\u00E9 au lait"_qs);

        // Emoji sequences are one character each: one backspace removes a
        // whole family, and each is pasted in one piece.
        const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs;
        const QString flag = u"\U0001F1E9\U0001F1EA"_qs;
        service->setLastInsertedText(QString());
        keyboard.clear();
        type("We " + family);
        type("We " + flag);
        QCOMPARE(keyboard.count(51), 1);
        QCOMPARE(keyboard.screen, "We " + flag);
        QVERIFY(pasteboard.log.contains("text:" + family));
        QVERIFY(pasteboard.log.contains("text:" + flag));

        // Counts are in characters: 23 emoji against 4 letters is a new
        // sentence, although it is many more code units.
        service->setLastInsertedText(QString());
        keyboard.clear();
        QString emoji;
        for (int i = 0; i < 23; ++i)
            emoji += flag;
        const auto diff = service->computeDiff(emoji, "Next");
        QCOMPARE(diff, (TextInsertionService::Diff{0, ". Next"}));
        const auto shortDiff = service->computeDiff(emoji.left(16), flag + "ab");
        QCOMPARE(shortDiff, (TextInsertionService::Diff{3, "ab"}));
    }

    void shortcutsAgreeWithTheFullUnicodeRules()
    {
        // Random texts of pieces that stress the ASCII shortcut of the
        // boundaries and the piecewise composition: marks after ASCII and
        // controls, emoji and flag sequences, Hangul jamo, kana with voicing.
        const QStringList pieces = {"a", "Z", " ", "\n", "\t", u"\u0301"_qs, u"\u0308\u0323"_qs,
                                    u"\u00E9"_qs, u"\U0001F1E9"_qs, u"\U0001F468\u200D\U0001F469"_qs,
                                    u"\u1100\u1161\u11A8"_qs, u"\u304B\u3099"_qs, u"中"_qs, u"\uFE0F"_qs,
                                    u"\u0915\u094D\u0937"_qs, "e", "."};
        QRandomGenerator random(42);
        for (int round = 0; round < 200; ++round) {
            QString text;
            const int length = int(random.bounded(1, 400));
            for (int i = 0; i < length; ++i)
                text += pieces[random.bounded(int(pieces.size()))];

            QList<qsizetype> expected = {0};
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
            while (finder.toNextBoundary() != -1)
                expected.append(finder.position());
            QCOMPARE(Graphemes::boundaries(text), expected);
            QCOMPARE(Graphemes::canonical(text), text.normalized(QString::NormalizationForm_C));
        }

        // CR LF is one character and a control ends its character, wherever
        // they stand. (Qt's own finder splits CR LF before some scripts.)
        QCOMPARE(Graphemes::boundaries(u"a\r\nb"), (QList<qsizetype>{0, 1, 3, 4}));
        QCOMPARE(Graphemes::boundaries(u"\r\r\n\r\u0915"), (QList<qsizetype>{0, 1, 3, 4, 5}));
        QCOMPARE(Graphemes::boundaries(u"Z\r\n\u0915\u094D\u0937"), (QList<qsizetype>{0, 1, 3, 6}));
        QCOMPARE(Graphemes::boundaries(u"Z\r\u0301x"), (QList<qsizetype>{0, 1, 2, 3, 4}));
    }

    void keyTableTypesTheUsCharacters()
    {
        const auto &table = keyTable();
        QCOMPARE(table.size(), 102);
        // Straight quotes and a full stop stand in for typographic ones.
        const QHash<QString, QString> standIns = {
            {u"\u2018"_qs, "'"}, {u"\u2019"_qs, "'"}, {u"\u201C"_qs, "\""}, {u"\u201D"_qs, "\""},
            {u"\u2026"_qs, "."}};
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            QVERIFY2(!it->needsOption, qPrintable(it.key()));
            const QChar typed = FakeKeyboardEventSink::usCharacter(it->keyCode, it->needsShift);
            QCOMPARE(QString(typed), standIns.value(it.key(), it.key()));
        }
        QVERIFY(!keyMapping(u"é"));
        QVERIFY(!keyMapping(u"€"));
        QVERIFY(!keyMapping(u"ab"));
        QVERIFY(!keyMapping(u""));

        // Shift only on the key-down; key-up carries no flags; each stroke
        // is prepared (held user keys) before it starts.
        type("A b");
        const QList<Event> expected = {
            {0, true, KeyboardEventSink::shiftFlag, 0}, {0, false, 0, 0}, {49, true, 0, 0},
            {49, false, 0, 0},                          {11, true, 0, 0}, {11, false, 0, 0}};
        QCOMPARE(keyboard.events, expected);
        QCOMPARE(keyboard.prepared, 3);

        keyboard.clear();
        service->setLastInsertedText(QString());
        const QString everything = "The quick brown fox, 42 (ok)! Jumps_over {lazy} dogs? ~`@#$%^&*-+=[]\\|;:'\"<>/\n\tEnd";
        type(everything);
        QCOMPARE(keyboard.screen, everything);
        QVERIFY(pasteboard.log.isEmpty());
    }

    void pastesOtherCharactersAndRestoresTheWholeClipboard()
    {
        const PasteboardContents previous{{{"text/plain", "copied before"},
                                           {"image/png", QByteArray("\x89PNG\r\n\x1a\n....", 12)},
                                           {"text/html", "<b>copied</b>"}}};
        pasteboard.current = previous;
        type(u"é€中 ok"_qs);
        QCOMPARE(keyboard.screen, u"é€中 ok"_qs);
        QCOMPARE(pasteboard.current, previous);
        // Read everything, replace, paste, wait for the target, put back.
        QCOMPARE(pasteboard.log.mid(0, 5),
                 (QStringList{"read", u"text:é"_qs, "taken", "wait", "restore"}));
        QCOMPARE(pasteboard.log.count("restore"), 3);
        QCOMPARE(keyboard.count(9), 3);
        for (const Event &event : keyboard.events) {
            if (event.keyCode == 9)
                QCOMPARE(event.flags, event.keyDown ? quint64(KeyboardEventSink::commandFlag) : 0);
        }

        // An empty clipboard stays empty, and it is restored even when the
        // target never took the paste.
        pasteboard = FakePasteboard();
        keyboard.pasteboard = nullptr;
        service->setLastInsertedText(QString());
        type(u"ü"_qs);
        QVERIFY(pasteboard.current.isEmpty());
        QCOMPARE(pasteboard.log, (QStringList{"read", u"text:ü"_qs, "wait", "restore"}));
    }

    void nothingIsTypedWithoutPermission()
    {
        LogCapture log;
        trust.trusted = false;
        type("Hello");
        QVERIFY(keyboard.events.isEmpty());
        QCOMPARE(service->lastInsertedText(), QString());
        QVERIFY(!service->isTyping());
        QVERIFY(alerts.shown.isEmpty());
        QVERIFY(log.lines().contains("❌ [Insert] No accessibility permission!"));

        QVERIFY(!service->isAccessibilityTrusted());
        QVERIFY(service->requestAccessibilityTrust());
        QCOMPARE(trust.requests, 1);
        QVERIFY(service->isAccessibilityTrusted());
    }

    void permissionAlertsAndTheirButtons()
    {
        // Installed: no move offer; the first button opens the help.
        bundle.location = "/usr/bin/tellwind";
        alerts.answers = {1000};
        QCoro::waitFor(service->showAccessibilityPermissionAlert());
        QCOMPARE(alerts.shown.size(), 1);
        const Alert installed = alerts.shown.last();
        QCOMPARE(installed.title, QString("Accessibility Permission Required"));
        QCOMPARE(installed.style, Alert::Style::warning);
        QCOMPARE(installed.buttons, (QStringList{"Open Settings", "Later"}));
        QCOMPARE(installed.informativeText,
                 QString("Tellwind needs Accessibility permission to type text into other applications.\n\n"
                         "1. Click \"Open Settings\"\n2. Click the + button at the bottom\n"
                         "3. Find and select \"Tellwind\" in /Applications\n4. Toggle it ON"));
        QCOMPARE(workspace.openedPanes, (QList<Workspace::Pane>{Workspace::Pane::accessibility}));

        // "Later" in the installed variant is the second button: nothing.
        alerts.answers = {1001};
        QCoro::waitFor(service->showAccessibilityPermissionAlert());
        QCOMPARE(alerts.shown.size(), 2);
        QCOMPARE(workspace.openedPanes.size(), 1);

        // Run from elsewhere: "Move to Applications" leads to the second
        // alert, whose first button reveals the program.
        bundle.location = "/home/me/Downloads/tellwind";
        alerts.answers = {1001, 1000};
        QCoro::waitFor(service->showAccessibilityPermissionAlert());
        QCOMPARE(alerts.titles().mid(2), (QStringList{"Accessibility Permission Required", "Move to Applications"}));
        QCOMPARE(alerts.shown[2].buttons, (QStringList{"Open Settings", "Move to Applications", "Later"}));
        QVERIFY(alerts.shown[2].informativeText.startsWith(
            "Tellwind needs Accessibility permission to type text.\n\n⚠️ First, move Tellwind to your "
            "Applications folder!\n\nThen:\n1. Click \"Open Settings\"\n"));
        const Alert move = alerts.shown[3];
        QCOMPARE(move.style, Alert::Style::informational);
        QCOMPARE(move.buttons, (QStringList{"Open Finder", "OK"}));
        QCOMPARE(move.informativeText,
                 QString("To move Tellwind to Applications:\n\n1. Open Finder\n2. Drag \"Tellwind\" to the "
                         "Applications folder\n3. Re-open Tellwind from Applications\n\nCurrent location:\n"
                         "/home/me/Downloads/tellwind"));
        QCOMPARE(workspace.revealedFiles, QStringList{"/home/me/Downloads/tellwind"});

        // Dismissed ("Later" is the last button): nothing else happens.
        alerts.answers = {1002};
        QCoro::waitFor(service->showAccessibilityPermissionAlert());
        QCOMPARE(alerts.shown.size(), 5);
        QCOMPARE(workspace.openedPanes.size(), 1);

        alerts.answers = {1000, 1001};
        QCoro::waitFor(service->showEnableAccessibilityAlert());
        bundle.location = "/opt/tellwind/bin/tellwind";
        QCoro::waitFor(service->showEnableAccessibilityAlert());
        QCOMPARE(alerts.shown[5].title, QString("Enable Accessibility"));
        QCOMPARE(alerts.shown[5].style, Alert::Style::informational);
        QCOMPARE(alerts.shown[5].buttons, (QStringList{"Open Settings", "Not Now"}));
        QCOMPARE(alerts.shown[5].informativeText,
                 QString("Tellwind cannot type text without Accessibility permission.\n\n"
                         "⚠️ Please move Tellwind to Applications folder first!"));
        QCOMPARE(alerts.shown[6].informativeText,
                 QString("Tellwind cannot type text without Accessibility permission.\n\n"
                         "Click \"Open Settings\", then click + to add Tellwind."));
        QCOMPARE(workspace.openedPanes.size(), 2);
    }

    void installedLocations()
    {
        QVERIFY(ApplicationBundle::isInstalledLocation("/usr/bin/tellwind"));
        QVERIFY(ApplicationBundle::isInstalledLocation("/usr/local/bin/tellwind"));
        QVERIFY(ApplicationBundle::isInstalledLocation("/opt/tellwind/tellwind"));
        QVERIFY(ApplicationBundle::isInstalledLocation(QDir::homePath() + "/.local/bin/tellwind"));
        QVERIFY(!ApplicationBundle::isInstalledLocation(QDir::homePath() + "/src/tellwind/build/tellwind"));
        QVERIFY(!ApplicationBundle::isInstalledLocation("/usrlocal/tellwind"));
        QVERIFY(!ApplicationBundle::isInstalledLocation("/tmp/../home/x/tellwind"));
        QVERIFY(!ApplicationBundle::isInstalledLocation("/usr/../tmp/tellwind"));
    }
};

QTEST_GUILESS_MAIN(TestTextInsertion)
#include "test_text_insertion.moc"
