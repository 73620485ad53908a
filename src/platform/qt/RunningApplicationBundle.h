#pragma once

#include "platform/ApplicationBundle.h"

// The executable of this process.
class RunningApplicationBundle : public ApplicationBundle
{
public:
    static RunningApplicationBundle &shared();
    static RunningApplicationBundle *createShared();

    QString path() const override;
};
