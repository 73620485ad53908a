#pragma once

#include "platform/ApplicationBundle.h"

class FakeApplicationBundle : public ApplicationBundle
{
public:
    QString location = QStringLiteral("/usr/bin/tellwind");

    QString path() const override { return location; }
};
