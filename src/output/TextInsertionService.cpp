#include "output/TextInsertionService.h"

#include "common/Graphemes.h"
#include "common/Log.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationBundle.h"
#include "platform/Pasteboard.h"
#include "platform/TypingBackend.h"
#include "platform/WindowSystem.h"
#include "platform/Workspace.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;

namespace
{

QString nfc(const QString &text)
{
    return Graphemes::canonical(text);
}

} // namespace

TextInsertionService::TextInsertionService(TypingBackend &keyboard, AlertPresenter &alerts,
    Workspace &workspace, ApplicationBundle &bundle, WindowSystem &windows, Pasteboard &pasteboard,
    QObject *parent)
    : QObject(parent)
    , m_keyboard(keyboard)
    , m_alerts(alerts)
    , m_workspace(workspace)
    , m_bundle(bundle)
    , m_windows(windows)
    , m_pasteboard(pasteboard)
{
}

QString TypingScope::meantText() const
{
    QString whole;
    for (const QString &utterance : meant) {
        if (!utterance.isEmpty())
            whole += TextInsertionService::sentenceSeparator(whole, utterance) + utterance;
    }
    return whole;
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
    return m_keyboard.canSynthesizeInput();
}

bool TextInsertionService::requestAccessibilityTrust()
{
    return m_keyboard.canSynthesizeInput();
}

std::shared_ptr<TypingScope> TextInsertionService::beginDictation()
{
    auto scope = std::make_shared<TypingScope>();
    scope->startWindow = m_windows.focusedWindow();
    scope->serial = ++m_scopes;
    if (const std::shared_ptr<TypingScope> previous = m_newestScope.lock())
        previous->superseded = true;
    m_newestScope = scope;
    // Its own typing starts afresh: an earlier failure does not stop it.
    m_typingFailed = false;
    m_notTyped.clear();
    return scope;
}

QCoro::Task<> TextInsertionService::insertTranscript(
    std::shared_ptr<TypingScope> scope, TranscriptEvent event)
{
    qCDebug(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Utterance %1 of recording %2: '%3'")
                                       .arg(event.utterance)
                                       .arg(event.recording)
                                       .arg(event.text);
    if (!scope)
        co_return;
    scope->meant[event.utterance] = event.text;
    if (!m_keyboard.canSynthesizeInput()) {
        qCWarning(lcOutput).noquote() << QStringLiteral("❌ [Insert] No accessibility permission!");
        co_return;
    }
    enqueue(Work { std::move(scope), std::move(event) });
    if (m_isTyping) {
        qCInfo(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Already typing, queued update");
        co_return;
    }
    co_await performInsertion();
}

std::optional<QString> TextInsertionService::pendingText() const
{
    if (m_pending.empty())
        return std::nullopt;
    return m_pending.back().event.text;
}

void TextInsertionService::enqueue(Work work)
{
    // Only the newest update of a text matters: it holds every earlier one.
    // Updates of different utterances all count, in order.
    if (!m_pending.empty()) {
        Work &last = m_pending.back();
        if (last.scope == work.scope && last.event.utterance == work.event.utterance) {
            last = std::move(work);
            return;
        }
    }
    m_pending.push_back(std::move(work));
}

QCoro::Task<bool> TextInsertionService::finishTyping(std::chrono::milliseconds bound)
{
    // Looked at on a timer rather than on isTypingChanged: that signal is
    // emitted from inside the typing loop, and a waiter resumed there would
    // run in the middle of it.
    constexpr auto lookAgainAfter = 10ms;
    QPointer<TextInsertionService> self(this);
    const QDeadlineTimer deadline(bound);
    // A queued update is typed right after the one before: the service is
    // idle only with neither.
    while (self && (m_isTyping || !m_pending.empty())) {
        if (deadline.hasExpired())
            co_return false;
        co_await QCoro::sleepFor(lookAgainAfter);
    }
    co_return true;
}

QCoro::Task<> TextInsertionService::performInsertion()
{
    QPointer<TextInsertionService> self(this);
    setIsTyping(true);
    while (!m_pending.empty()) {
        Work work = std::move(m_pending.front());
        m_pending.pop_front();
        co_await applyTranscript(std::move(work.scope), std::move(work.event));
        if (!self)
            co_return;
        if (!m_pending.empty())
            qCInfo(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Processing queued text...");
    }
    setIsTyping(false);
}

bool TextInsertionService::mayType(TypingScope &scope)
{
    if (scope.heldBack)
        return false;
    const std::shared_ptr<TypingScope> lastTyped = m_lastTypedScope;
    const WindowSystem::WindowId focused = m_windows.focusedWindow();
    // A later dictation typed: this one's keys would land in, or erase, its text.
    const bool overtaken = lastTyped && lastTyped->serial > scope.serial;
    // Where the session cannot tell windows apart (Wayland), a later
    // dictation may have begun anywhere: nothing more is risked there.
    const bool blind = focused == 0 && scope.superseded;
    if (!scope.hasWindow) {
        // Its first words come after a later dictation began: they still go
        // where this one began, before the later one typed anything there.
        if (overtaken || blind || (scope.superseded && focused != scope.startWindow)) {
            qCInfo(lcOutput).noquote()
                << QStringLiteral("✋ [Insert] A later dictation owns the focus; holding back");
            scope.heldBack = true;
            return false;
        }
        scope.window = focused;
        scope.hasWindow = true;
        m_keyboard.newTarget();
        // The last dictation's words in the same place end a sentence before these.
        if (lastTyped && lastTyped.get() != &scope && lastTyped->window == focused)
            scope.context = lastTyped->text;
        scope.text = scope.context;
        return true;
    }
    // Another window has the focus (the user clicked away before the last
    // revision came), or a later dictation typed after this one's text:
    // backspaces now would erase what is not ours.
    const bool focusMoved = scope.window != focused || blind;
    if (focusMoved || overtaken) {
        qCInfo(lcOutput).noquote() << (focusMoved
                ? QStringLiteral("✋ [Insert] The focus moved to another window; holding the rest back")
                : QStringLiteral("✋ [Insert] A later dictation typed meanwhile; holding the rest back"));
        scope.heldBack = true;
        return false;
    }
    return true;
}

QCoro::Task<> TextInsertionService::applyTranscript(std::shared_ptr<TypingScope> scope, TranscriptEvent event)
{
    QPointer<TextInsertionService> self(this);
    TypingScope &typing = *scope;
    if (!typing.utterance || *typing.utterance != event.utterance) {
        // A revision of an utterance that another one already followed would
        // have to reach through the later text: it stays as typed.
        if (typing.utterance && event.utterance < *typing.utterance) {
            qCInfo(lcOutput).noquote()
                << QStringLiteral("🗑️ [Insert] Dropped a late revision of utterance %1")
                       .arg(event.utterance);
            co_return;
        }
    }
    QString wanted = event.text;
    // A line break cannot be taken back in a terminal (the line is gone to
    // the shell) or a chat (the message is sent): it waits until the
    // recognizer will not revise the words before it.
    if (!event.isFinal) {
        if (const qsizetype lineBreak = wanted.indexOf(u'\n'); lineBreak >= 0)
            wanted.truncate(lineBreak);
    }
    if (!typing.utterance && wanted.isEmpty())
        co_return;
    if (!mayType(typing))
        co_return;
    if (!typing.utterance || *typing.utterance != event.utterance) {
        typing.utterance = event.utterance;
        typing.beforeUtterance = typing.text;
        typing.separator.reset();
        typing.utteranceTyped.clear();
    }
    QString rendered;
    if (!wanted.isEmpty()) {
        if (!typing.separator) {
            typing.separator = sentenceSeparator(typing.beforeUtterance, wanted);
            if (!typing.separator->isEmpty())
                qCInfo(lcOutput).noquote() << QStringLiteral("📝 [Insert] New utterance, adding separator");
        }
        rendered = *typing.separator + wanted;
    }
    const Diff diff = computeEdit(typing.utteranceTyped, rendered);
    if (diff.deleteCount == 0 && diff.textToType.isEmpty()) {
        qCInfo(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Nothing to change, skipping");
        co_return;
    }
    m_lastTypedScope = scope;
    co_await apply(diff);
    if (!self)
        co_return;
    typing.utteranceTyped = rendered;
    typing.text = typing.beforeUtterance + rendered;
    setLastInsertedText(typing.typed());
}

QCoro::Task<> TextInsertionService::offerUntypedText(QString text)
{
    QPointer<TextInsertionService> self(this);
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.title = tr("Dictation not typed in full");
    alert.informativeText = tr("Another window had the keyboard focus before Tellwind had typed everything "
                               "you said, so the rest was not typed anywhere. Copy the whole dictation to "
                               "the clipboard?");
    alert.buttons = { tr("Copy to Clipboard"), tr("Discard") };
    alert.showsApplicationIcon = true;
    const int response = co_await m_alerts.runModal(alert);
    if (self && response == AlertPresenter::firstButton)
        m_pasteboard.setText(text);
}

namespace
{

// A text in canonical form with its character boundaries.
struct CanonicalText {
    QString form;
    QList<qsizetype> marks;

    explicit CanonicalText(const QString &text)
        : form(nfc(text))
        , marks(Graphemes::boundaries(form))
    {
    }
    qsizetype count() const { return marks.size() - 1; }
};

// How many whole characters the two texts share at their start.
qsizetype commonPrefix(const CanonicalText &oldText, const CanonicalText &newText)
{
    // Boundaries depend only on the text before them and the character
    // after, so up to the first differing code unit both texts break alike;
    // a character is common when it ends there in both.
    const auto mismatch = std::mismatch(
        oldText.form.cbegin(), oldText.form.cend(), newText.form.cbegin(), newText.form.cend());
    const qsizetype firstDifference = mismatch.first - oldText.form.cbegin();
    qsizetype prefix = 0;
    while (prefix < oldText.count() && prefix < newText.count()
        && oldText.marks[prefix + 1] == newText.marks[prefix + 1]
        && oldText.marks[prefix + 1] <= firstDifference)
        ++prefix;
    return prefix;
}

} // namespace

TextInsertionService::Diff TextInsertionService::computeEdit(const QString &oldText, const QString &newText)
{
    if (oldText.isEmpty())
        return { 0, nfc(newText) };
    const CanonicalText oldCanonical(oldText);
    const CanonicalText newCanonical(newText);
    if (oldCanonical.form == newCanonical.form)
        return {};
    const qsizetype prefix = commonPrefix(oldCanonical, newCanonical);
    return { int(oldCanonical.count() - prefix), newCanonical.form.mid(newCanonical.marks[prefix]) };
}

QString TextInsertionService::sentenceSeparator(const QString &previous, const QString &next)
{
    if (previous.isEmpty())
        return {};
    const QString last = nfc(Graphemes::last(previous));
    // After a line break or a space, or before one, the text is already apart.
    if (last.front().isSpace() || (!next.isEmpty() && next.front().isSpace()))
        return {};
    if (!next.isEmpty() && punctuationCharacters().contains(nfc(Graphemes::first(next))))
        return last == QStringLiteral(" ") ? QString() : QStringLiteral(" ");
    if (sentenceEndingPunctuation().contains(last))
        return QStringLiteral(" ");
    return QStringLiteral(". ");
}

const QSet<QString> &TextInsertionService::sentenceEndingPunctuation()
{
    static const QSet<QString> characters = {
        QStringLiteral("."),
        QStringLiteral("!"),
        QStringLiteral("?"),
        QStringLiteral("\u2026"),
        QStringLiteral("\u3002"),
        QStringLiteral("\uFF01"),
        QStringLiteral("\uFF1F"),
    };
    return characters;
}

const QSet<QString> &TextInsertionService::punctuationCharacters()
{
    static const QSet<QString> characters = {
        QStringLiteral("."),
        QStringLiteral(","),
        QStringLiteral("!"),
        QStringLiteral("?"),
        QStringLiteral(";"),
        QStringLiteral(":"),
        QStringLiteral("\u2026"),
        QStringLiteral("'"),
        QStringLiteral("\""),
        QStringLiteral(")"),
        QStringLiteral("]"),
        QStringLiteral("}"),
        QStringLiteral("\u3002"),
        QStringLiteral("\uFF0C"),
        QStringLiteral("\uFF01"),
        QStringLiteral("\uFF1F"),
        QStringLiteral("\uFF1B"),
        QStringLiteral("\uFF1A"),
    };
    return characters;
}

QCoro::Task<> TextInsertionService::apply(Diff diff)
{
    QPointer<TextInsertionService> self(this);
    if (m_typingFailed)
        co_return;
    qCDebug(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Smart diff: delete %1 chars, type '%2'")
                                       .arg(diff.deleteCount)
                                       .arg(diff.textToType);
    const QStringList characters = Graphemes::split(diff.textToType);
    qCInfo(lcOutput).noquote() << QStringLiteral("⌨️ [Insert] Smart diff: delete %1 chars, type %2 chars")
                                      .arg(diff.deleteCount)
                                      .arg(characters.size());
    if (diff.deleteCount > 0) {
        const TypingResult erased = co_await m_keyboard.erase(diff.deleteCount);
        if (!self || !accept(erased))
            co_return;
    }
    // Runs of what the keys type, and of what has to be pasted, in order:
    // one request for each run rather than for each character.
    m_charactersLeft = characters.size();
    QString notTyped;
    for (qsizetype start = 0; start < characters.size();) {
        const bool typable = m_keyboard.canType(characters.at(start));
        qsizetype end = start + 1;
        while (end < characters.size() && m_keyboard.canType(characters.at(end)) == typable)
            ++end;
        const QString run = characters.mid(start, end - start).join(QString());
        TypingResult result;
        if (typable)
            result = co_await m_keyboard.typeText(run);
        else
            result = co_await m_keyboard.pasteText(run);
        if (!self)
            co_return;
        if (result.status == TypingResult::Status::skipped) {
            // A paste that did not arrive does not end the text: the keys
            // go on, and the user hears which characters are missing.
            qCWarning(lcOutput).noquote() << "A paste did not arrive:" << result.message;
            notTyped += run;
        } else if (!accept(result)) {
            break;
        }
        m_charactersLeft -= end - start;
        start = end;
    }
    if (!notTyped.isEmpty())
        reportNotTyped(notTyped);
    qCInfo(lcOutput).noquote() << QStringLiteral("✅ [Insert] Done");
}

bool TextInsertionService::accept(const TypingResult &result)
{
    if (result.isOk())
        return true;
    // What is left of this recording would be typed onto a text that is
    // not what the service believes it to be: it stops, and says so.
    m_typingFailed = true;
    qCWarning(lcOutput).noquote() << "Typing stopped:" << result.message;
    emit typingFailed(result.message.isEmpty()
            ? tr("Typing stopped before the text was complete.")
            : tr("Typing stopped before the text was complete: %1").arg(result.message));
    return false;
}

void TextInsertionService::reportNotTyped(const QString &characters)
{
    // Named once each per recording: the panel and the notification list
    // every character that went missing so far.
    QStringList added;
    for (const QString &character : Graphemes::split(characters)) {
        if (!m_notTyped.contains(character) && !added.contains(character))
            added << character;
    }
    if (added.isEmpty())
        return;
    m_notTyped << added;
    emit typingFailed(
        tr("These characters could not be typed on this desktop: %1").arg(m_notTyped.join(u' ')));
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
    alert.title = tr("Permission to Type Required");
    alert.showsApplicationIcon = true;
    if (inApplications) {
        alert.informativeText
            = tr("Tellwind needs permission to send key presses to type text into other applications.\n\n"
                 "1. Click \"Open Help\"\n"
                 "2. Log in to an X11 (Xorg) session\n"
                 "3. Make sure the X server has XTEST enabled\n"
                 "4. Start Tellwind again");
        alert.buttons = { tr("Open Help"), tr("Later") };
    } else {
        alert.informativeText = tr("Tellwind needs permission to send key presses to type text.\n\n"
                                   "⚠️ First, install Tellwind under /usr, /opt or ~/.local!\n\n"
                                   "Then:\n"
                                   "1. Click \"Open Help\"\n"
                                   "2. Log in to an X11 (Xorg) session\n"
                                   "3. Start \"Tellwind\" from its installed location\n"
                                   "4. Make sure the X server has XTEST enabled");
        alert.buttons = { tr("Open Help"), tr("Install Tellwind"), tr("Later") };
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
    alert.title = tr("Enable Typing");
    alert.informativeText = m_bundle.isInApplications()
        ? tr("Tellwind cannot type text without permission to send key presses.\n\n"
             "Click \"Open Help\", then follow its steps to let Tellwind type.")
        : tr("Tellwind cannot type text without permission to send key presses.\n\n"
             "⚠️ Please install Tellwind under /usr, /opt or ~/.local first!");
    alert.buttons = { tr("Open Help"), tr("Not Now") };

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
    alert.title = tr("Install Tellwind");
    alert.informativeText = tr("To install Tellwind:\n\n"
                               "1. Open the file manager\n"
                               "2. Move \"tellwind\" to ~/.local/bin\n"
                               "3. Re-open Tellwind from ~/.local/bin\n\n"
                               "Current location:\n")
        + bundlePath;
    alert.buttons = { tr("Open File Manager"), tr("OK") };

    const int response = co_await m_alerts.runModal(alert);
    if (self && response == AlertPresenter::firstButton)
        m_workspace.revealFile(bundlePath);
}
