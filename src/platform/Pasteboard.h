#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <utility>

// Everything the clipboard held: each format (a MIME type) with its data.
// No formats means an empty clipboard.
struct PasteboardContents {
    QList<std::pair<QString, QByteArray>> formats;

    bool isEmpty() const { return formats.isEmpty(); }
    QByteArray data(const QString &format) const
    {
        for (const auto &[name, bytes] : formats) {
            if (name == format)
                return bytes;
        }
        return {};
    }
    friend bool operator==(const PasteboardContents &, const PasteboardContents &) = default;
};

// The system clipboard.
class Pasteboard
{
public:
    virtual ~Pasteboard() = default;

    virtual PasteboardContents contents() const = 0;
    // Replaces everything on the clipboard by a text.
    virtual void setText(const QString &text) = 0;
    // Puts saved contents back in full; empty contents clear the clipboard.
    virtual void setContents(const PasteboardContents &contents) = 0;
    // How often other applications read what setText last put there. Not
    // only the target reads: clipboard managers (mutter's own, klipper…)
    // copy every new clipboard as soon as it appears.
    virtual int reads() const = 0;
    // Suspends until reads() exceeds `seen`, or until the timeout; answers
    // whether it did.
    virtual QCoro::Task<bool> waitForRead(int seen, std::chrono::milliseconds timeout) = 0;
};

// Where no clipboard is wanted (benchmarks of the keys alone).
class NullPasteboard : public Pasteboard
{
public:
    PasteboardContents contents() const override { return {}; }
    void setText(const QString &) override { }
    void setContents(const PasteboardContents &) override { }
    int reads() const override { return 0; }
    QCoro::Task<bool> waitForRead(int, std::chrono::milliseconds) override { co_return false; }
};
