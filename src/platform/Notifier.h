#pragma once

#include <QString>

// Desktop notifications: a short summary and a line or two of body text,
// shown by the desktop's notification service. Fire and forget: a desktop
// without such a service simply shows nothing, and the caller never learns
// whether it was seen.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString &summary, const QString &body) = 0;
};

// For desktops (and tests) where notifications are not wanted.
class NullNotifier : public Notifier
{
public:
    void notify(const QString &, const QString &) override { }
};
