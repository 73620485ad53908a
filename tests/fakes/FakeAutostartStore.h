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
    std::optional<QString> registerApp() override { return call("register", registerError, Status::enabled); }
    std::optional<QString> unregisterApp() override
    {
        return call("unregister", unregisterError, Status::notRegistered);
    }

private:
    std::optional<QString> call(const QString &name, const std::optional<QString> &error, Status after)
    {
        calls << name;
        if (!error)
            currentStatus = after;
        return error;
    }
};
