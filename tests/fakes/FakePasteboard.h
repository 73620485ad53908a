#pragma once

#include "platform/Pasteboard.h"

#include <QStringList>

// A clipboard in memory that writes down every operation in `log`
// ("read", "text:é", "wait", "restore") so tests can check the order.
// Whoever pastes calls take(), as the target application would.
class FakePasteboard : public Pasteboard
{
public:
    PasteboardContents current;
    QStringList log;
    bool taken = false;

    PasteboardContents contents() const override
    {
        const_cast<FakePasteboard *>(this)->log.append(QStringLiteral("read"));
        return current;
    }
    void setText(const QString &text) override
    {
        log.append(QStringLiteral("text:") + text);
        current = PasteboardContents{{{QStringLiteral("text/plain"), text.toUtf8()}}};
        taken = false;
    }
    void setContents(const PasteboardContents &contents) override
    {
        log.append(QStringLiteral("restore"));
        current = contents;
    }
    QCoro::Task<bool> waitUntilTaken(std::chrono::milliseconds) override
    {
        log.append(QStringLiteral("wait"));
        co_return taken;
    }

    QString take()
    {
        taken = true;
        log.append(QStringLiteral("taken"));
        return QString::fromUtf8(current.data(QStringLiteral("text/plain")));
    }
};
