#pragma once

#include <QSet>

// The keysyms the desktop's active layout types with at most Shift, read from
// the X server beside the compositor, whose keymap follows the desktop's.
// Empty when no X server answers.
QSet<quint32> xwaylandLayoutKeysyms();
