#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// User-perceived characters (extended grapheme clusters).
namespace Graphemes
{

// Offsets of every character boundary, from 0 to the text's length; a text
// of n characters has n + 1 of them.
QList<qsizetype> boundaries(QStringView text);
QStringList split(QStringView text);
QString first(QStringView text);
QString last(QStringView text);

// The composed canonical form (NFC), in which equivalent texts are equal.
QString canonical(const QString &text);

} // namespace Graphemes
