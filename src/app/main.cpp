#include <QApplication>

#include "common/Log.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    logLine(QStringLiteral("Tellwind is not assembled yet."));
    return 0;
}
