#include "platform/qt/RunningApplicationBundle.h"

#include <QCoreApplication>

QString RunningApplicationBundle::path() const
{
    return QCoreApplication::applicationFilePath();
}
