#pragma once

#include "platform/ApplicationBundle.h"

// The executable of this process.
class RunningApplicationBundle : public ApplicationBundle
{
public:
    QString path() const override;
};
