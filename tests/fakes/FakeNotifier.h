#pragma once

#include "platform/Notifier.h"

#include <QStringList>

// Records what the desktop would have been shown, as "summary: body".
class FakeNotifier : public Notifier
{
public:
    QStringList shown;

    void notify(const QString &summary, const QString &body) override { shown << summary + ": " + body; }
};
