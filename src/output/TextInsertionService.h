#pragma once

#include "output/DictationTyping.h"
#include "output/TypingScope.h"
#include "speech/TranscriptEvent.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

class AlertPresenter;
class ApplicationBundle;
class TypingBackend;
struct TypingResult;
class Pasteboard;
class WindowSystem;
class Workspace;

// Types the running transcript into the focused application. Each update
// replaces the text of its utterance; only the difference to what that
// utterance already typed is sent: backspaces for a revised ending, then the
// new tail. A new utterance gets a sentence separator first. What a dictation
// typed lives in its own TypingScope, and a dictation types only into the
// window its first words went to: what is due while another window has the
// focus is held back, never typed there. A key that no revision can take back
// (Return) waits for its utterance's final text. Characters the backend cannot type as keys are
// pasted; what neither way gets in is named to the user. Also owns the
// alerts about the permission to type.
class TextInsertionService : public QObject, public DictationTyping
{
    Q_OBJECT
    Q_PROPERTY(QString lastInsertedText READ lastInsertedText WRITE setLastInsertedText NOTIFY
            lastInsertedTextChanged)
    Q_PROPERTY(bool needsAccessibilityPermission READ needsAccessibilityPermission WRITE
            setNeedsAccessibilityPermission NOTIFY needsAccessibilityPermissionChanged)
    Q_PROPERTY(bool isTyping READ isTyping NOTIFY isTypingChanged)

public:
    struct Diff {
        int deleteCount = 0;
        QString textToType;
        // The old text stays; textToType starts a new sentence after it.
        bool startsNewSentence = false;

        friend bool operator==(const Diff &, const Diff &) = default;
    };

    TextInsertionService(TypingBackend &keyboard, AlertPresenter &alerts, Workspace &workspace,
        ApplicationBundle &bundle, WindowSystem &windows, Pasteboard &pasteboard, QObject *parent = nullptr);
    // A new dictation: what it types goes into the scope returned. The last
    // dictation's text in the same window is the context of its first separator.
    std::shared_ptr<TypingScope> beginDictation() override;
    QCoro::Task<> insertTranscript(std::shared_ptr<TypingScope> scope, TranscriptEvent event) override;
    // Asks whether text that could not be typed should go to the clipboard.
    QCoro::Task<> offerUntypedText(QString text) override;
    // Waits for the typing in progress, and the update queued behind it, to
    // end: true when it did within `bound`, false when characters are left
    // (how many: charactersLeft()).
    QCoro::Task<bool> finishTyping(std::chrono::milliseconds bound);
    qsizetype charactersLeft() const { return m_charactersLeft; }

    QString lastInsertedText() const { return m_lastInsertedText; }
    void setLastInsertedText(const QString &text);
    bool needsAccessibilityPermission() const { return m_needsAccessibilityPermission; }
    void setNeedsAccessibilityPermission(bool needed) override;
    bool isTyping() const { return m_isTyping; }
    // The text of the newest queued update, if any.
    std::optional<QString> pendingText() const;

    Q_INVOKABLE bool isAccessibilityTrusted() const override;
    bool requestAccessibilityTrust() override;
    Q_INVOKABLE void openAccessibilitySettings();

    QCoro::Task<> showAccessibilityPermissionAlert() override;
    QCoro::Task<> showEnableAccessibilityAlert() override;
    QCoro::Task<> showMoveToApplicationsAlert();

    // The edit that turns one utterance's typed text into its revision,
    // however long; it never reaches before the utterance.
    static Diff computeEdit(const QString &oldText, const QString &newText);
    static QString sentenceSeparator(const QString &previous, const QString &next);

    static const QSet<QString> &sentenceEndingPunctuation();
    static const QSet<QString> &punctuationCharacters();

signals:
    void lastInsertedTextChanged(QString value);
    void needsAccessibilityPermissionChanged(bool value);
    void isTypingChanged(bool value);
    // Typing ended short of the text (the rest of the recording is not
    // typed), or characters could not be typed; user-readable.
    void typingFailed(const QString &message);

private:
    // One queued update: an utterance's new text.
    struct Work {
        std::shared_ptr<TypingScope> scope;
        TranscriptEvent event;
    };

    void enqueue(Work work);
    QCoro::Task<> performInsertion();
    QCoro::Task<> applyTranscript(std::shared_ptr<TypingScope> scope, TranscriptEvent event);
    // Whether the scope may type now; decides its window at its first words.
    bool mayType(TypingScope &scope);
    void setIsTyping(bool typing);

    // How an edit becomes typing: backspaces, then runs of keys and pastes.
    QCoro::Task<> apply(Diff diff);
    // False when typing has to end here (the user was told why).
    bool accept(const TypingResult &result);
    void reportNotTyped(const QString &characters);

    TypingBackend &m_keyboard;
    AlertPresenter &m_alerts;
    Workspace &m_workspace;
    ApplicationBundle &m_bundle;
    WindowSystem &m_windows;
    // Where text that could not be typed goes when the user asks.
    Pasteboard &m_pasteboard;
    // Of the current recording: a key failed, so nothing more is typed; and
    // the characters that neither keys nor a paste got in.
    bool m_typingFailed = false;
    QStringList m_notTyped;

    QString m_lastInsertedText;
    bool m_needsAccessibilityPermission = false;
    bool m_isTyping = false;
    std::deque<Work> m_pending;

    // The newest dictation, and the one whose keys were sent last (kept
    // after its dictation ended: its text is the next one's context).
    std::weak_ptr<TypingScope> m_newestScope;
    std::shared_ptr<TypingScope> m_lastTypedScope;
    quint64 m_scopes = 0;
    // Of the update being typed: what a quit cut short is logged as a count.
    qsizetype m_charactersLeft = 0;
};
