#pragma once

#include "platform/Pasteboard.h"

#include <QStringList>

// A clipboard in memory that writes down every operation in `log` ("read",
// "text:é", "wait", "restore"; the target adds "taken" when it pastes).
class FakePasteboard : public Pasteboard
{
public:
    PasteboardContents current;
    mutable QStringList log;

    PasteboardContents contents() const override
    {
        log << QStringLiteral("read");
        return current;
    }
    void setText(const QString &text) override
    {
        log << QStringLiteral("text:") + text;
        current = { { { QStringLiteral("text/plain"), text.toUtf8() } } };
    }
    void setContents(const PasteboardContents &contents) override
    {
        log << QStringLiteral("restore");
        current = contents;
    }
    QCoro::Task<bool> waitUntilTaken(std::chrono::milliseconds) override
    {
        const bool taken = log.endsWith(QStringLiteral("taken"));
        log << QStringLiteral("wait");
        co_return taken;
    }
};
