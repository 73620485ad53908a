#include "output/TextInsertionService.h"

#include "common/Log.h"
#include "common/Shared.h"
#include "output/Graphemes.h"
#include "output/KeyMapping.h"
#include "platform/AccessibilityTrust.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationBundle.h"
#include "platform/KeyboardEventSink.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/RunningApplicationBundle.h"
#include "platform/KeyboardBackends.h"
#include "platform/xdg/DesktopWorkspace.h"

#include <QPointer>

using namespace std::chrono_literals;

namespace {

// The pace of typing: the target application gets time to take each key.
constexpr auto keyHoldTime = 1ms;
constexpr auto afterCharacterTime = 8ms;
constexpr auto afterBackspaceTime = 5ms;
constexpr auto pasteSettleTime = 50ms;
// A paste is complete once the target has read the clipboard. One that never
// reads it (a terminal takes Ctrl+V as a control character) must not hold
// the user's clipboard hostage for long.
constexpr auto pasteTakeTimeout = 450ms;
// More backspaces than this and the old text is left alone.
constexpr int maximumCorrection = 30;

QString nfc(const QString &text)
{
    return Graphemes::canonical(text);
}

} // namespace

TextInsertionService::TextInsertionService(KeyboardEventSink &keyboard, AccessibilityTrust &trust,
                                           Pasteboard &pasteboard, AlertPresenter &alerts, Workspace &workspace,
                                           ApplicationBundle &bundle, QObject *parent)
    : QObject(parent), m_keyboard(keyboard), m_trust(trust), m_pasteboard(pasteboard), m_alerts(alerts),
      m_workspace(workspace), m_bundle(bundle)
{
}

TextInsertionService &TextInsertionService::shared()
{
    return Shared<TextInsertionService>::get();
}

TextInsertionService *TextInsertionService::createShared()
{
    // Lives as long as the service, which lives as long as the program.
    TypingBackend &keyboard = *makeKeyboardSink(SessionInfo::current()).backend.release();
    return new TextInsertionService(keyboard, keyboard, QtPasteboard::shared(), QtAlertPresenter::shared(),
                                    DesktopWorkspace::shared(), RunningApplicationBundle::shared());
}

void TextInsertionService::setLastInsertedText(const QString &text)
{
    if (m_lastInsertedText == text)
        return;
    m_lastInsertedText = text;
    emit lastInsertedTextChanged(text);
}

void TextInsertionService::setNeedsAccessibilityPermission(bool needed)
{
    if (m_needsAccessibilityPermission == needed)
        return;
    m_needsAccessibilityPermission = needed;
    emit needsAccessibilityPermissionChanged(needed);
}

void TextInsertionService::setIsTyping(bool typing)
{
    if (m_isTyping == typing)
        return;
    m_isTyping = typing;
    emit isTypingChanged(typing);
}

bool TextInsertionService::isAccessibilityTrusted() const
{
    return m_trust.isTrusted();
}

bool TextInsertionService::requestAccessibilityTrust()
{
    return m_trust.requestTrust();
}

QCoro::Task<> TextInsertionService::insertText(QString text)
{
    logLine(QStringLiteral("⌨️ [Insert] insertText called with: '%1'").arg(text));
    if (!m_trust.isTrusted()) {
        logLine(QStringLiteral("❌ [Insert] No accessibility permission!"));
        co_return;
    }
    if (m_isTyping) {
        m_pendingText = text;
        logLine(QStringLiteral("⌨️ [Insert] Already typing, queued update"));
        co_return;
    }
    co_await performInsertion(text);
}

QCoro::Task<> TextInsertionService::performInsertion(QString text)
{
    QPointer<TextInsertionService> self(this);
    for (;;) {
        setIsTyping(true);
        m_pacer.restart();
        const Diff diff = computeDiff(m_lastInsertedText, text);
        if (diff.deleteCount > 0 || !diff.textToType.isEmpty()) {
            logLine(QStringLiteral("⌨️ [Insert] Smart diff: delete %1 chars, type '%2'")
                        .arg(diff.deleteCount)
                        .arg(diff.textToType));
            if (diff.deleteCount > 0)
                co_await deleteCharacters(diff.deleteCount);
            if (!self)
                co_return;
            const QStringList characters = Graphemes::split(diff.textToType);
            m_keyboard.prepareCharacters(characters);
            for (const QString &character : characters) {
                co_await typeCharacter(character);
                if (!self)
                    co_return;
            }
            setLastInsertedText(text);
            logLine(QStringLiteral("✅ [Insert] Done"));
        } else {
            logLine(QStringLiteral("⌨️ [Insert] Nothing to change, skipping"));
        }
        setIsTyping(false);

        // Only the newest update that came in meanwhile matters: it holds
        // every earlier one.
        if (!m_pendingText)
            co_return;
        text = *std::exchange(m_pendingText, std::nullopt);
        logLine(QStringLiteral("⌨️ [Insert] Processing queued text..."));
    }
}

TextInsertionService::CanonicalText TextInsertionService::canonicalText(const QString &text) const
{
    if (text == m_lastCanonical.source)
        return m_lastCanonical;
    CanonicalText result;
    result.source = text;
    result.form = nfc(text);
    result.marks = Graphemes::boundaries(result.form);
    return result;
}

TextInsertionService::Diff TextInsertionService::computeDiff(const QString &oldText, const QString &newText)
{
    if (oldText.isEmpty())
        return {0, newText};
    const CanonicalText oldCanonical = canonicalText(oldText);
    const CanonicalText newCanonical = canonicalText(newText);
    m_lastCanonical = newCanonical;
    const QString &oldForm = oldCanonical.form;
    const QString &newForm = newCanonical.form;
    if (oldForm == newForm)
        return {0, {}};

    const QList<qsizetype> &oldMarks = oldCanonical.marks;
    const QList<qsizetype> &newMarks = newCanonical.marks;
    const qsizetype oldCount = oldMarks.size() - 1;
    const qsizetype newCount = newMarks.size() - 1;

    // Boundaries depend only on the text before them and the character
    // after, so up to the first differing code unit both texts break alike;
    // a character is common when it ends there in both.
    const auto mismatch = std::mismatch(oldForm.cbegin(), oldForm.cend(), newForm.cbegin(), newForm.cend());
    const qsizetype firstDifference = mismatch.first - oldForm.cbegin();
    qsizetype prefix = 0;
    while (prefix < oldCount && prefix < newCount && oldMarks[prefix + 1] == newMarks[prefix + 1]
           && oldMarks[prefix + 1] <= firstDifference)
        ++prefix;

    const QString newTail = newForm.mid(newMarks[prefix]);
    if (prefix == oldCount)
        return {0, newTail};

    if (newCount < oldCount / 2 && prefix <= 2) {
        logLine(QStringLiteral("📝 [Insert] New sentence detected, adding separator"));
        const QString separator = sentenceSeparator(oldText, newText);
        setLastInsertedText(QString());
        return {0, separator + newForm};
    }

    const qsizetype toDelete = oldCount - prefix;
    if (toDelete <= maximumCorrection)
        return {int(toDelete), newTail};

    logLine(QStringLiteral("⚠️ [Insert] Correction too large (%1 chars), treating as new sentence").arg(toDelete));
    const QString separator = sentenceSeparator(oldText, newText);
    setLastInsertedText(QString());
    return {0, separator + newForm};
}

QString TextInsertionService::sentenceSeparator(const QString &previous, const QString &next)
{
    if (previous.isEmpty())
        return {};
    const QString last = nfc(Graphemes::last(previous));
    if (!next.isEmpty() && punctuationCharacters().contains(nfc(Graphemes::first(next))))
        return last == QStringLiteral(" ") ? QString() : QStringLiteral(" ");
    if (sentenceEndingPunctuation().contains(last))
        return QStringLiteral(" ");
    return QStringLiteral(". ");
}

const QSet<QString> &TextInsertionService::sentenceEndingPunctuation()
{
    static const QSet<QString> characters = {
        QStringLiteral("."),      QStringLiteral("!"),      QStringLiteral("?"),      QStringLiteral("\u2026"),
        QStringLiteral("\u3002"), QStringLiteral("\uFF01"), QStringLiteral("\uFF1F"),
    };
    return characters;
}

const QSet<QString> &TextInsertionService::punctuationCharacters()
{
    static const QSet<QString> characters = {
        QStringLiteral("."),      QStringLiteral(","),      QStringLiteral("!"),      QStringLiteral("?"),
        QStringLiteral(";"),      QStringLiteral(":"),      QStringLiteral("\u2026"), QStringLiteral("'"),
        QStringLiteral("\""),     QStringLiteral(")"),      QStringLiteral("]"),      QStringLiteral("}"),
        QStringLiteral("\u3002"), QStringLiteral("\uFF0C"), QStringLiteral("\uFF01"), QStringLiteral("\uFF1F"),
        QStringLiteral("\uFF1B"), QStringLiteral("\uFF1A"),
    };
    return characters;
}

QCoro::Task<> TextInsertionService::deleteCharacters(int count)
{
    QPointer<TextInsertionService> self(this);
    for (int i = 0; i < count; ++i) {
        co_await m_keyboard.prepareKeystroke();
        if (!self)
            co_return;
        m_keyboard.postKeyEvent(KeyCodes::backspace, true, KeyboardEventSink::noFlags);
        m_keyboard.postKeyEvent(KeyCodes::backspace, false, KeyboardEventSink::noFlags);
        co_await m_pacer.wait(afterBackspaceTime);
        if (!self)
            co_return;
    }
}

QCoro::Task<> TextInsertionService::typeCharacter(QString character)
{
    QPointer<TextInsertionService> self(this);
    if (m_keyboard.typesCharacters()) {
        co_await m_keyboard.prepareKeystroke();
        if (!self)
            co_return;
        if (m_keyboard.postCharacter(character, true)) {
            co_await m_pacer.wait(keyHoldTime);
            if (!self)
                co_return;
            m_keyboard.postCharacter(character, false);
        } else {
            co_await pasteCharacter(character);
        }
        if (self)
            co_await m_pacer.wait(afterCharacterTime);
        co_return;
    }
    const std::optional<KeyMapping> mapping = keyMapping(character);
    if (!mapping) {
        co_await pasteCharacter(character);
        if (self)
            co_await m_pacer.wait(afterCharacterTime);
        co_return;
    }

    quint64 flags = KeyboardEventSink::noFlags;
    if (mapping->needsShift)
        flags |= KeyboardEventSink::shiftFlag;
    if (mapping->needsOption)
        flags |= KeyboardEventSink::optionFlag;
    co_await m_keyboard.prepareKeystroke();
    if (!self)
        co_return;
    m_keyboard.postKeyEvent(mapping->keyCode, true, flags);
    co_await m_pacer.wait(keyHoldTime);
    if (!self)
        co_return;
    m_keyboard.postKeyEvent(mapping->keyCode, false, KeyboardEventSink::noFlags);
    co_await m_pacer.wait(afterCharacterTime);
}

QCoro::Task<> TextInsertionService::pasteCharacter(QString character)
{
    QPointer<TextInsertionService> self(this);
    // Everything the user had on the clipboard, in every format, goes back
    // afterwards: a text-only copy would lose images and rich text.
    const PasteboardContents saved = m_pasteboard.contents();
    m_pasteboard.setText(character);

    co_await m_keyboard.prepareKeystroke();
    if (!self)
        co_return;
    m_keyboard.postKeyEvent(KeyCodes::v, true, KeyboardEventSink::commandFlag);
    m_keyboard.postKeyEvent(KeyCodes::v, false, KeyboardEventSink::noFlags);
    co_await m_pacer.wait(pasteSettleTime);
    if (!self)
        co_return;
    // The target fetches the data after it saw the key; putting the old
    // contents back before that would paste them instead.
    co_await m_pasteboard.waitUntilTaken(pasteTakeTimeout);
    if (!self)
        co_return;
    m_pasteboard.setContents(saved);
}

void TextInsertionService::openAccessibilitySettings()
{
    m_workspace.openSettingsPane(Workspace::Pane::accessibility);
}

QCoro::Task<> TextInsertionService::showAccessibilityPermissionAlert()
{
    QPointer<TextInsertionService> self(this);
    const bool inApplications = m_bundle.isInApplications();
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.title = QStringLiteral("Accessibility Permission Required");
    alert.showsApplicationIcon = true;
    if (inApplications) {
        alert.informativeText = QStringLiteral(
            "Tellwind needs Accessibility permission to type text into other applications.\n\n"
            "1. Click \"Open Settings\"\n"
            "2. Click the + button at the bottom\n"
            "3. Find and select \"Tellwind\" in /Applications\n"
            "4. Toggle it ON");
        alert.buttons = {QStringLiteral("Open Settings"), QStringLiteral("Later")};
    } else {
        alert.informativeText = QStringLiteral(
            "Tellwind needs Accessibility permission to type text.\n\n"
            "⚠️ First, move Tellwind to your Applications folder!\n\n"
            "Then:\n"
            "1. Click \"Open Settings\"\n"
            "2. Click the + button at the bottom\n"
            "3. Find \"Tellwind\" in Applications\n"
            "4. Toggle it ON");
        alert.buttons = {QStringLiteral("Open Settings"), QStringLiteral("Move to Applications"),
                         QStringLiteral("Later")};
    }

    const int response = co_await m_alerts.runModal(alert);
    if (!self)
        co_return;
    if (response == AlertPresenter::firstButton)
        openAccessibilitySettings();
    else if (response == AlertPresenter::firstButton + 1 && !inApplications)
        co_await showMoveToApplicationsAlert();
}

QCoro::Task<> TextInsertionService::showEnableAccessibilityAlert()
{
    QPointer<TextInsertionService> self(this);
    Alert alert;
    alert.style = Alert::Style::informational;
    alert.title = QStringLiteral("Enable Accessibility");
    alert.informativeText = m_bundle.isInApplications()
        ? QStringLiteral("Tellwind cannot type text without Accessibility permission.\n\n"
                         "Click \"Open Settings\", then click + to add Tellwind.")
        : QStringLiteral("Tellwind cannot type text without Accessibility permission.\n\n"
                         "⚠️ Please move Tellwind to Applications folder first!");
    alert.buttons = {QStringLiteral("Open Settings"), QStringLiteral("Not Now")};

    const int response = co_await m_alerts.runModal(alert);
    if (self && response == AlertPresenter::firstButton)
        openAccessibilitySettings();
}

QCoro::Task<> TextInsertionService::showMoveToApplicationsAlert()
{
    QPointer<TextInsertionService> self(this);
    const QString bundlePath = m_bundle.path();
    Alert alert;
    alert.style = Alert::Style::informational;
    alert.title = QStringLiteral("Move to Applications");
    alert.informativeText = QStringLiteral("To move Tellwind to Applications:\n\n"
                                           "1. Open Finder\n"
                                           "2. Drag \"Tellwind\" to the Applications folder\n"
                                           "3. Re-open Tellwind from Applications\n\n"
                                           "Current location:\n")
        + bundlePath;
    alert.buttons = {QStringLiteral("Open Finder"), QStringLiteral("OK")};

    const int response = co_await m_alerts.runModal(alert);
    if (self && response == AlertPresenter::firstButton)
        m_workspace.revealFile(bundlePath);
}
