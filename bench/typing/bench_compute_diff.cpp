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
double timeDiffs(TextInsertionService &service, const QString &base)
{
    static const QStringList words = { "and", "more", "words", "spoken", "quickly" };
    QString previous = base;
    service.setLastInsertedText(previous);
    std::vector<double> runs;
    for (int i = 0; i < 41; ++i) {
        QString next = previous;
        if (i % 3 == 2)
            next.chop(3);
        next += u' ' + words[i % words.size()];
        QElapsedTimer timer;
        timer.start();
        const auto diff = service.computeDiff(previous, next);
        runs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (diff.textToType.isEmpty())
            std::abort();
        previous = next;
    }
    std::nth_element(runs.begin(), runs.begin() + long(runs.size() / 2), runs.end());
    return runs[runs.size() / 2];
}

} // namespace

// computeDiff only touches its own state, so no platform is needed.
#include "platform/AccessibilityTrust.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationBundle.h"
#include "platform/KeyboardEventSink.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "platform/x11/X11WindowSystem.h"

namespace
{
struct Null : KeyboardEventSink,
              AccessibilityTrust,
              Pasteboard,
              AlertPresenter,
              Workspace,
              ApplicationBundle {
    QCoro::Task<> prepareKeystroke() override { co_return; }
    bool postKeyEvent(quint16, bool, quint64) override { return true; }
    bool isTrusted() const override { return true; }
    bool requestTrust() override { return true; }
    PasteboardContents contents() const override { return {}; }
    void setText(const QString &) override { }
    void setContents(const PasteboardContents &) override { }
    QCoro::Task<bool> waitUntilTaken(std::chrono::milliseconds) override { co_return true; }
    QCoro::Task<int> runModal(Alert) override { co_return firstButton; }
    bool openUrl(const QUrl &) override { return true; }
    void revealFile(const QString &) override { }
    void openSettingsPane(Pane) override { }
    QString path() const override { return {}; }
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Null null;
    NullWindowSystem windows;
    TextInsertionService service(null, null, null, null, null, null, windows);

    double perChar10k = 0, perChar100k = 0;
    for (bool unicode : { false, true }) {
        for (qsizetype length : { 1000, 10000, 100000 }) {
            const double ms = timeDiffs(service, transcript(length, unicode));
            std::printf(
                "compute_diff_%s%lldk: %.3f ms\n", unicode ? "unicode_" : "", (long long)(length / 1000), ms);
            if (!unicode && length == 10000)
                perChar10k = ms / double(length);
            if (!unicode && length == 100000)
                perChar100k = ms / double(length);
        }
    }
    // Without the kept form of the previous update (a transcript set from
    // outside, or the first diff of a run), both texts are worked out.
    for (bool unicode : { false, true }) {
        const QString base = transcript(100000, unicode);
        std::vector<double> runs;
        for (int i = 0; i < 21; ++i) {
            const QString oldText = base + QString::number(i);
            const QString newText = base + QString::number(i) + " more";
            service.setLastInsertedText(QString());
            QElapsedTimer timer;
            timer.start();
            service.computeDiff(oldText, newText);
            runs.push_back(double(timer.nsecsElapsed()) / 1e6);
            service.computeDiff("reset", "reset the kept form");
        }
        std::nth_element(runs.begin(), runs.begin() + long(runs.size() / 2), runs.end());
        std::printf("compute_diff_%scold_100k: %.3f ms\n", unicode ? "unicode_" : "", runs[runs.size() / 2]);
    }
    // 1.0 is perfectly linear; quadratic growth would show about 10.
    std::printf("compute_diff_growth_100k_vs_10k: %.2f\n", perChar100k / perChar10k);
    return 0;
}
