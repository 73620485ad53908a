// Time to format a 10,000-word transcript, the length of a long dictation;
// the formatter runs on the whole transcript at every partial result.
// Prints "name: value unit" lines.
#include "speech/TextFormatter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

// Recognizer output: plain lower-case words with spoken commands among them.
QString transcript(int wordCount)
{
    static const QStringList words = { "please", "send", "the", "report", "by", "friday", "comma", "i'm",
        "sure", "it", "is", "ready", "full", "stop", "new", "line", "we", "met", "on", "monday", "and",
        "talked", "about", "the", "new", "budget", "question", "mark", "i", "think", "so", "open", "quote",
        "yes", "close", "quote", "literal", "comma", "dash", "done" };
    QString text;
    for (int i = 0; i < wordCount; ++i) {
        if (i > 0)
            text += u' ';
        text += words[i % words.size()];
    }
    return text;
}

double medianMs(const QString &text, const TextFormatter::Context &context)
{
    std::vector<double> runs;
    qsizetype check = 0;
    for (int i = 0; i < 51; ++i) {
        QElapsedTimer timer;
        timer.start();
        check += TextFormatter::format(text, context).size();
        runs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (check == 0)
        std::abort();
    std::nth_element(runs.begin(), runs.begin() + long(runs.size() / 2), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString text = transcript(10000);
    TextFormatter::Context context;
    context.language = QStringLiteral("en-US");
    TextFormatter::format(QStringLiteral("load the table"), context);

    std::printf("text_formatter_10k_words: %.3f ms\n", medianMs(text, context));
    return 0;
}
