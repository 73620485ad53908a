#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

// Word error rate, for the benchmarks that compare what was recognized with
// what was said.
inline QStringList splitWords(const QString &text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// Word-level edit distance.
inline int countEdits(const QStringList &reference, const QStringList &hypothesis)
{
    std::vector<int> previous(size_t(hypothesis.size()) + 1), current(previous.size());
    for (size_t j = 0; j < previous.size(); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= hypothesis.size(); ++j) {
            const int substitution
                = previous[size_t(j - 1)] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            current[size_t(j)]
                = std::min({ substitution, previous[size_t(j)] + 1, current[size_t(j - 1)] + 1 });
        }
        std::swap(previous, current);
    }
    return previous[size_t(hypothesis.size())];
}
