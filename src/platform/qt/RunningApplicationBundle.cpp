#include "platform/qt/RunningApplicationBundle.h"

#include "common/Shared.h"

#include <QCoreApplication>

RunningApplicationBundle &RunningApplicationBundle::shared()
{
    return Shared<RunningApplicationBundle>::get();
}

RunningApplicationBundle *RunningApplicationBundle::createShared()
{
    return new RunningApplicationBundle;
}

QString RunningApplicationBundle::path() const
{
    return QCoreApplication::applicationFilePath();
}
