#pragma once

#include "app/DictationNeighbours.h"

#include <QStringList>

#include <qcoro/qcorotimer.h>

#include <chrono>

// Text insertion that records instead of typing. `journal` interleaves the
// begin and end of every insertion with the resets, to check their order.
class FakeDictationTyping : public DictationTyping
{
public:
    bool trusted = true;
    std::chrono::milliseconds typingTime{0};
    QStringList inserted;
    QStringList journal;
    int resets = 0;
    int alerts = 0;
    int permissionAlerts = 0;
    int trustRequests = 0;
    bool trustedAfterRequest = false;
    bool needsPermission = false;

    bool isAccessibilityTrusted() const override { return trusted; }
    bool requestAccessibilityTrust() override
    {
        ++trustRequests;
        trusted = trusted || trustedAfterRequest;
        return trusted;
    }
    void setNeedsAccessibilityPermission(bool needed) override { needsPermission = needed; }
    QCoro::Task<> showAccessibilityPermissionAlert() override
    {
        ++permissionAlerts;
        co_return;
    }

    void resetForNewRecording() override
    {
        ++resets;
        journal << QStringLiteral("reset");
    }

    QCoro::Task<> insertText(QString text) override
    {
        inserted << text;
        journal << QStringLiteral("type:") + text;
        if (typingTime.count() > 0) {
            QTimer timer;
            timer.setSingleShot(true);
            timer.start(typingTime);
            co_await timer;
        }
        journal << QStringLiteral("typed:") + text;
    }

    QCoro::Task<> showEnableAccessibilityAlert() override
    {
        ++alerts;
        co_return;
    }
};
