#pragma once

#include <QString>

// A desktop notification from Tellwind (org.freedesktop.Notifications).
// Without a notification service nothing is shown, and that is no error.
void showDesktopNotice(const QString &summary, const QString &body);
