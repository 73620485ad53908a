#pragma once

#include "platform/AutostartStore.h"

#include <QStringList>

// A login-item registry in memory that records each change asked of it and
// can be told to refuse them.
class FakeAutostartStore : public AutostartStore
{
public:
    Status currentStatus = Status::notRegistered;
    std::optional<QString> registerError;
    std::optional<QString> unregisterError;
    QStringList calls; // "register" / "unregister", in order

    Status status() const override { return currentStatus; }

    std::optional<QString> registerApp() override
    {
        calls << QStringLiteral("register");
        if (!registerError)
            currentStatus = Status::enabled;
        return registerError;
    }

    std::optional<QString> unregisterApp() override
    {
        calls << QStringLiteral("unregister");
        if (!unregisterError)
            currentStatus = Status::notRegistered;
        return unregisterError;
    }
};
