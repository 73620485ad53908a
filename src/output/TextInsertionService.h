#pragma once

#include "speech/TranscriptEvent.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <optional>

class AlertPresenter;
class ApplicationBundle;
class TypingBackend;
struct TypingResult;
class Workspace;

// Types the running transcript into the focused application, and is the one
// holder of what was typed. Each update replaces the text of its utterance;
// only the difference to what that utterance already typed is sent:
// backspaces for a revised ending, then the new tail. A new utterance gets a
// sentence separator first. Characters the backend cannot type as keys are
// pasted; what neither way gets in is named to the user. Also owns the
// alerts about the permission to type.
class TextInsertionService : public QObject
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
        ApplicationBundle &bundle, QObject *parent = nullptr);
    // What follows belongs to `recording`; the typed text of the last one is
    // kept only as the context for the first separator.
    void beginRecording(quint64 recording);
    QCoro::Task<> insertTranscript(TranscriptEvent event);
    // Waits for the typing in progress, and the update queued behind it, to
    // end: true when it did within `bound`, false when characters are left
    // (how many: charactersLeft()).
    QCoro::Task<bool> finishTyping(std::chrono::milliseconds bound);
    qsizetype charactersLeft() const { return m_charactersLeft; }

    QString lastInsertedText() const { return m_lastInsertedText; }
    void setLastInsertedText(const QString &text);
    bool needsAccessibilityPermission() const { return m_needsAccessibilityPermission; }
    void setNeedsAccessibilityPermission(bool needed);
    bool isTyping() const { return m_isTyping; }
    // The text of the newest queued update, if any.
    std::optional<QString> pendingText() const;

    Q_INVOKABLE bool isAccessibilityTrusted() const;
    bool requestAccessibilityTrust();
    Q_INVOKABLE void openAccessibilitySettings();

    QCoro::Task<> showAccessibilityPermissionAlert();
    QCoro::Task<> showEnableAccessibilityAlert();
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
        TranscriptEvent event;
    };

    void enqueue(Work work);
    QCoro::Task<> performInsertion();
    QCoro::Task<> applyTranscript(TranscriptEvent event);
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
    // Of the current recording: a key failed, so nothing more is typed; and
    // the characters that neither keys nor a paste got in.
    bool m_typingFailed = false;
    QStringList m_notTyped;

    QString m_lastInsertedText;
    bool m_needsAccessibilityPermission = false;
    bool m_isTyping = false;
    std::deque<Work> m_pending;

    quint64 m_recording = 0;
    // The utterance being typed: what came before it, its separator (chosen
    // at its first word) and what it typed after that.
    std::optional<quint64> m_utterance;
    QString m_beforeUtterance;
    std::optional<QString> m_separator;
    QString m_utteranceTyped;
    // Of the update being typed: what a quit cut short is logged as a count.
    qsizetype m_charactersLeft = 0;
};
