#include "platform/Keysyms.h"

#include <QList>

#include <xkbcommon/xkbcommon.h>

quint32 keysymForCharacter(const QString &character)
{
    if (character == QLatin1String("\n") || character == QLatin1String("\r\n"))
        return XKB_KEY_Return;
    const QList<uint> codePoints = character.toUcs4();
    if (codePoints.size() != 1)
        return XKB_KEY_NoSymbol;
    return xkb_utf32_to_keysym(codePoints.first());
}
