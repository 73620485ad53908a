#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>

// The US-ANSI key (and Shift) that types a character.
struct KeyMapping {
    quint16 keyCode = 0;
    bool needsShift = false;
    bool needsOption = false;

    friend bool operator==(const KeyMapping &, const KeyMapping &) = default;
};

namespace KeyCodes
{
constexpr quint16 backspace = 51;
constexpr quint16 v = 9;
} // namespace KeyCodes

// The built-in key table: 102 characters of a US-ANSI keyboard, each keyed by
// a single character. Anything else is pasted.
const QHash<QString, KeyMapping> &keyTable();
std::optional<KeyMapping> keyMapping(QStringView character);
