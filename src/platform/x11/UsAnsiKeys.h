#pragma once

#include <QtGlobal>

// The keysym a key of a US-ANSI keyboard gives, the key named by its US-ANSI
// key code, with or without Shift. Zero for keys we do not know.
unsigned long usAnsiKeysym(quint16 keyCode, bool shift);
