#include "output/KeyMapping.h"

namespace
{

QHash<QString, KeyMapping> buildTable()
{
    QHash<QString, KeyMapping> table;
    auto add = [&table](char16_t character, quint16 keyCode, bool shift) {
        table.insert(QString(QChar(character)), KeyMapping { keyCode, shift, false });
    };

    const struct {
        char16_t letter;
        quint16 code;
    } letters[] = {
        { u'a', 0 },
        { u's', 1 },
        { u'd', 2 },
        { u'f', 3 },
        { u'h', 4 },
        { u'g', 5 },
        { u'z', 6 },
        { u'x', 7 },
        { u'c', 8 },
        { u'v', 9 },
        { u'b', 11 },
        { u'q', 12 },
        { u'w', 13 },
        { u'e', 14 },
        { u'r', 15 },
        { u'y', 16 },
        { u't', 17 },
        { u'o', 31 },
        { u'u', 32 },
        { u'i', 34 },
        { u'p', 35 },
        { u'l', 37 },
        { u'j', 38 },
        { u'k', 40 },
        { u'n', 45 },
        { u'm', 46 },
    };
    for (const auto &[letter, code] : letters) {
        add(letter, code, false);
        add(char16_t(letter - u'a' + u'A'), code, true);
    }

    const struct {
        char16_t character;
        quint16 code;
        bool shift;
    } others[] = {
        // Digits and the symbols on the same keys.
        { u'1', 18, false },
        { u'2', 19, false },
        { u'3', 20, false },
        { u'4', 21, false },
        { u'5', 23, false },
        { u'6', 22, false },
        { u'7', 26, false },
        { u'8', 28, false },
        { u'9', 25, false },
        { u'0', 29, false },
        { u'!', 18, true },
        { u'@', 19, true },
        { u'#', 20, true },
        { u'$', 21, true },
        { u'%', 23, true },
        { u'^', 22, true },
        { u'&', 26, true },
        { u'*', 28, true },
        { u'(', 25, true },
        { u')', 29, true },
        // Punctuation keys, unshifted and shifted.
        { u'-', 27, false },
        { u'_', 27, true },
        { u'=', 24, false },
        { u'+', 24, true },
        { u'[', 33, false },
        { u'{', 33, true },
        { u']', 30, false },
        { u'}', 30, true },
        { u'\\', 42, false },
        { u'|', 42, true },
        { u';', 41, false },
        { u':', 41, true },
        { u'\'', 39, false },
        { u'"', 39, true },
        { u',', 43, false },
        { u'<', 43, true },
        { u'.', 47, false },
        { u'>', 47, true },
        { u'/', 44, false },
        { u'?', 44, true },
        { u'`', 50, false },
        { u'~', 50, true },
        // White space.
        { u' ', 49, false },
        { u'\n', 36, false },
        { u'\t', 48, false },
        // Typographic quotes become straight ones; the ellipsis a single
        // full stop.
        { u'\u2018', 39, false },
        { u'\u2019', 39, false },
        { u'\u201C', 39, true },
        { u'\u201D', 39, true },
        { u'\u2026', 47, false },
    };
    for (const auto &[character, code, shift] : others)
        add(character, code, shift);
    return table;
}

} // namespace

const QHash<QString, KeyMapping> &keyTable()
{
    static const QHash<QString, KeyMapping> table = buildTable();
    return table;
}

std::optional<KeyMapping> keyMapping(QStringView character)
{
    if (character.size() != 1)
        return std::nullopt;
    const auto &table = keyTable();
    const auto it = table.constFind(character.toString());
    if (it == table.cend())
        return std::nullopt;
    return *it;
}
