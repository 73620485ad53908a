#pragma once

#include <QString>

// The keysym that types one grapheme: the named keysym where X11 has one
// (eacute, EuroSign), which is what layouts hold, else 0x01000000 + the code
// point. "\n" is Return. 0 for a grapheme of several code points (a base
// with a combining mark that has no precomposed form, an emoji sequence):
// no single key types it.
quint32 keysymForCharacter(const QString &character);
