#pragma once

#include "platform/Notifier.h"

// A desktop that shows no notification.
class FakeNotifier : public Notifier
{
public:
    void notify(const QString &, const QString &) override { }
};
