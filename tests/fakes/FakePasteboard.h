#pragma once

#include "platform/Pasteboard.h"

#include <QStringList>

// A clipboard in memory logging each operation ("read", "text:é", "wait", "restore"; "taken": a client read).
class FakePasteboard : public Pasteboard
{
public:
    PasteboardContents current;
    mutable QStringList log;
    bool manager = false; // a clipboard manager, which copies each new text at once
    int readAtWait = 0; // a target that reads a new text at this wait (after its paste key), 0 for none

    PasteboardContents contents() const override
    {
        log << QStringLiteral("read");
        return current;
    }
    void setText(const QString &text) override
    {
        log << QStringLiteral("text:") + text;
        current = { { { QStringLiteral("text/plain"), text.toUtf8() } } };
        m_waits = 0;
        if (manager)
            log << QStringLiteral("taken");
    }
    void setContents(const PasteboardContents &contents) override
    {
        log << QStringLiteral("restore");
        current = contents;
    }
    int reads() const override
    {
        int taken = 0;
        for (qsizetype i = log.size() - 1; i >= 0 && !log.at(i).startsWith(QStringLiteral("text:")); --i)
            taken += log.at(i) == QStringLiteral("taken");
        return taken;
    }
    QCoro::Task<bool> waitForRead(int seen, std::chrono::milliseconds) override
    {
        log << QStringLiteral("wait");
        if (++m_waits == readAtWait)
            log << QStringLiteral("taken");
        co_return reads() > seen;
    }

private:
    int m_waits = 0;
};
