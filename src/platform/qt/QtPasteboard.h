#pragma once

#include "platform/Pasteboard.h"

#include <QObject>

// The CLIPBOARD selection through QClipboard.
//
// X11 pastes are asynchronous: the target asks the clipboard owner for the
// data some time after it saw the paste key. The text we put on the clipboard
// therefore counts how often other clients read it, so the caller restores
// the user's contents only once the paste has really happened.
class QtPasteboard : public QObject, public Pasteboard
{
    Q_OBJECT

public:
    PasteboardContents contents() const override;
    void setText(const QString &text) override;
    void setContents(const PasteboardContents &contents) override;
    int reads() const override { return m_reads; }
    QCoro::Task<bool> waitForRead(int seen, std::chrono::milliseconds timeout) override;

signals:
    void read();

private:
    void countRead(quint64 generation);

    quint64 m_generation = 0;
    int m_reads = 0;
};
