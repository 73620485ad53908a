#include "common/Graphemes.h"

#include <QTextBoundaryFinder>

namespace Graphemes
{

namespace
{

// Composition only ever joins a character with what follows it, and nothing
// composes onto an ASCII character or a CJK ideograph or kana from before, so
// the form of a text is the forms of its pieces cut before such characters.
bool startsIndependentPiece(char16_t unit)
{
    return unit < 0x80 || (unit >= 0x4E00 && unit <= 0x9FFF) || (unit >= 0x3041 && unit <= 0x3096)
        || (unit >= 0x30A1 && unit <= 0x30FA);
}

constexpr qsizetype pieceLength = 256;

} // namespace

QString canonical(const QString &text)
{
    // Qt composes a long text in time that grows faster than its length;
    // short pieces keep it linear.
    if (text.size() <= pieceLength)
        return text.normalized(QString::NormalizationForm_C);
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = std::min(start + pieceLength, text.size());
        while (end < text.size() && !startsIndependentPiece(text[end].unicode()))
            ++end;
        result += text.mid(start, end - start).normalized(QString::NormalizationForm_C);
        start = end;
    }
    return result;
}

QList<qsizetype> boundaries(QStringView text)
{
    QList<qsizetype> result;
    result.reserve(text.size() + 1);
    result.append(0);
    // ASCII breaks at every code unit, but for a CR LF pair and before a
    // combining character; a control ends its character whatever follows.
    // That covers most of what dictation produces and spares the full rules.
    qsizetype position = 0;
    const qsizetype length = text.size();
    while (position < length) {
        const char16_t unit = text[position].unicode();
        const bool hasNext = position + 1 < length;
        if (unit == u'\r' && hasNext && text[position + 1] == u'\n')
            position += 2;
        else if (unit < 0x20 || unit == 0x7F
            || (unit < 0x80 && (!hasNext || text[position + 1].unicode() < 0x80)))
            position += 1;
        else
            break;
        result.append(position);
    }
    if (position == length)
        return result;

    // Every boundary so far is certain and the rest starts with a character
    // that nothing before it joins, so the full rules can start afresh.
    const QStringView rest = text.mid(position);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, rest.data(), rest.size());
    while (finder.toNextBoundary() != -1)
        result.append(position + finder.position());
    return result;
}

QStringList split(QStringView text)
{
    const QList<qsizetype> marks = boundaries(text);
    QStringList result;
    result.reserve(marks.size() - 1);
    for (qsizetype i = 0; i + 1 < marks.size(); ++i)
        result.append(text.mid(marks[i], marks[i + 1] - marks[i]).toString());
    return result;
}

QString first(QStringView text)
{
    if (text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    const qsizetype end = finder.toNextBoundary();
    return text.left(end < 0 ? text.size() : end).toString();
}

QString last(QStringView text)
{
    if (text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return text.mid(start < 0 ? 0 : start).toString();
}

} // namespace Graphemes
