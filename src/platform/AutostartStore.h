#pragma once

#include <QString>

#include <optional>

// The desktop's record of programs to start when the user logs in, for this
// program only.
class AutostartStore
{
public:
    // The numbering is the one the settings window shows texts for.
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    virtual ~AutostartStore() = default;
    virtual Status status() const = 0;
    // Each answers the user-readable reason when the change could not be made.
    virtual std::optional<QString> registerApp() = 0;
    virtual std::optional<QString> unregisterApp() = 0;
};
