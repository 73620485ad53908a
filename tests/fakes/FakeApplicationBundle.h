#pragma once

#include "platform/ApplicationBundle.h"

class FakeApplicationBundle : public ApplicationBundle
{
public:
    QString path() const override { return QStringLiteral("/usr/bin/tellwind"); }
};
