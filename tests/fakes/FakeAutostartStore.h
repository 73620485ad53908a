#pragma once

#include "platform/AutostartStore.h"

#include <QStringList>

// A login-item registry in memory that records changes and may refuse registrations.
class FakeAutostartStore : public AutostartStore
{
public:
    Status currentStatus = Status::notRegistered;
    std::optional<QString> registerError;
    QStringList calls; // "register" / "unregister", in order

    Status status() const override { return currentStatus; }
    std::optional<QString> registerApp() override
    {
        calls << "register";
        if (!registerError)
            currentStatus = Status::enabled;
        return registerError;
    }
    std::optional<QString> unregisterApp() override
    {
        calls << "unregister";
        currentStatus = Status::notRegistered;
        return std::nullopt;
    }
};
