#pragma once

#include "output/Pacer.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class AccessibilityTrust;
class AlertPresenter;
class ApplicationBundle;
class KeyboardEventSink;
class Pasteboard;
class Workspace;

// Types the running transcript into the focused application. Each update is
// the whole transcript so far; only the difference to what was already typed
// is sent: backspaces for a revised ending, then the new tail, or, for a fresh
// utterance, a sentence separator and the whole new text. Also owns the
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

        friend bool operator==(const Diff &, const Diff &) = default;
    };

    TextInsertionService(KeyboardEventSink &keyboard, AccessibilityTrust &trust, Pasteboard &pasteboard,
                         AlertPresenter &alerts, Workspace &workspace, ApplicationBundle &bundle,
                         QObject *parent = nullptr);

    static TextInsertionService &shared();
    static TextInsertionService *createShared();

    QCoro::Task<> insertText(QString text);
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
    std::optional<QString> pendingText() const { return m_pendingText; }
    void setPendingText(std::optional<QString> text) { m_pendingText = std::move(text); }

    Q_INVOKABLE bool isAccessibilityTrusted() const;
    bool requestAccessibilityTrust();
    Q_INVOKABLE void openAccessibilitySettings();

    QCoro::Task<> showAccessibilityPermissionAlert();
    QCoro::Task<> showEnableAccessibilityAlert();
    QCoro::Task<> showMoveToApplicationsAlert();

    // The edit that turns the typed text into the new one. Starting a new
    // sentence empties lastInsertedText.
    Diff computeDiff(const QString &oldText, const QString &newText);
    static QString sentenceSeparator(const QString &previous, const QString &next);

    static const QSet<QString> &sentenceEndingPunctuation();
    static const QSet<QString> &punctuationCharacters();

signals:
    void lastInsertedTextChanged(QString value);
    void needsAccessibilityPermissionChanged(bool value);
    void isTypingChanged(bool value);

private:
    // A text in canonical form with its character boundaries.
    struct CanonicalText {
        QString source;
        QString form;
        QList<qsizetype> marks;
    };
    CanonicalText canonicalText(const QString &text) const;

    QCoro::Task<> performInsertion(QString text);
    QCoro::Task<> deleteCharacters(int count);
    QCoro::Task<> typeCharacter(QString character);
    QCoro::Task<> pasteCharacter(QString character);
    void setIsTyping(bool typing);

    KeyboardEventSink &m_keyboard;
    AccessibilityTrust &m_trust;
    Pasteboard &m_pasteboard;
    AlertPresenter &m_alerts;
    Workspace &m_workspace;
    ApplicationBundle &m_bundle;
    Pacer m_pacer;

    QString m_lastInsertedText;
    bool m_needsAccessibilityPermission = false;
    bool m_isTyping = false;
    std::optional<QString> m_pendingText;
    // Of the update being typed: what a quit cut short is logged as a count.
    qsizetype m_charactersLeft = 0;
    // The new text of one diff is the old text of the next: its canonical
    // form is kept rather than worked out again from a long transcript.
    CanonicalText m_lastCanonical;
};
