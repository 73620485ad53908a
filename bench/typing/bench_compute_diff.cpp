// Time of one diff of a transcript against its next update, for transcripts
// of growing length. Prints "name: value unit" lines.
#include "output/TextInsertionService.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

QString transcript(qsizetype length, bool unicode)
{
    static const QStringList ascii = { "the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog,", "and",
        "then", "it", "runs", "away.", "Again" };
    static const QStringList mixed = { u"Grüße"_qs, u"naïve"_qs, u"中文"_qs, u"café"_qs, "and", u"e\u0301"_qs,
        u"\U0001F1E9\U0001F1EA"_qs, "words" };
    const QStringList &words = unicode ? mixed : ascii;
    QString text;
    for (qsizetype i = 0; text.size() < length; ++i)
        text += words[i % words.size()] + u' ';
    text.truncate(length);
    return text;
}

// A dictation in progress: each update extends the transcript by a word and
// now and then revises the word before it. Each diff is timed as the service
// meets it, against the update before; the median is returned in ms.
double timeDiffs(const QString &base)
{
    static const QStringList words = { "and", "more", "words", "spoken", "quickly" };
    QString previous = base;
    std::vector<double> runs;
    for (int i = 0; i < 41; ++i) {
        QString next = previous;
        if (i % 3 == 2)
            next.chop(3);
        next += u' ' + words[i % words.size()];
        QElapsedTimer timer;
        timer.start();
        const auto diff = TextInsertionService::computeEdit(previous, next);
        runs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (diff.textToType.isEmpty())
            std::abort();
        previous = next;
    }
    std::nth_element(runs.begin(), runs.begin() + long(runs.size() / 2), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    double perChar10k = 0, perChar100k = 0;
    for (bool unicode : { false, true }) {
        for (qsizetype length : { 1000, 10000, 100000 }) {
            const double ms = timeDiffs(transcript(length, unicode));
            std::printf(
                "compute_diff_%s%lldk: %.3f ms\n", unicode ? "unicode_" : "", (long long)(length / 1000), ms);
            if (!unicode && length == 10000)
                perChar10k = ms / double(length);
            if (!unicode && length == 100000)
                perChar100k = ms / double(length);
        }
    }
    // An edit far into a long utterance: both texts are worked out.
    for (bool unicode : { false, true }) {
        const QString base = transcript(100000, unicode);
        std::vector<double> runs;
        for (int i = 0; i < 21; ++i) {
            const QString oldText = base + QString::number(i);
            const QString newText = base + QString::number(i) + " more";
            QElapsedTimer timer;
            timer.start();
            TextInsertionService::computeEdit(oldText, newText);
            runs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::nth_element(runs.begin(), runs.begin() + long(runs.size() / 2), runs.end());
        std::printf("compute_diff_%scold_100k: %.3f ms\n", unicode ? "unicode_" : "", runs[runs.size() / 2]);
    }
    // 1.0 is perfectly linear; quadratic growth would show about 10.
    std::printf("compute_diff_growth_100k_vs_10k: %.2f\n", perChar100k / perChar10k);
    return 0;
}
