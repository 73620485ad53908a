#pragma once

#include <QColor>
#include <QIcon>

#include <optional>

// The microphone pictogram of the tray item: an outline, or filled. Without a
// tint it is a light glyph with a dark rim, which reads on light and dark
// panels alike (a tray icon cannot know the panel's colour).
QIcon microphoneIcon(bool filled, std::optional<QColor> tint);
