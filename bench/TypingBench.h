#pragma once

#include "platform/AlertPresenter.h"
#include "platform/ApplicationBundle.h"
#include "platform/Workspace.h"

#include <QRandomGenerator>
#include <QStringList>

#include <vector>

struct Quiet : AlertPresenter, Workspace, ApplicationBundle {
    QCoro::Task<int> runModal(Alert) override { co_return firstButton; }
    bool openUrl(const QUrl &) override { return true; }
    void revealFile(const QString &) override { }
    void openSettingsPane(Pane) override { }
    QString path() const override { return {}; }
};

// Words with capitals, digits, symbols and characters beyond ASCII, as
// dictation in several languages produces them.
inline const QStringList mixedWords
    = { "Hello", "world,", "the", "Quick", "brown", "fox:", "jumps", "13", "lazy", "dogs!", "(see", "page",
          "42)", "50%", "A+B=C", "you@example.org", "#1", "$20", "[ok]", "{x}", "\"quoted\"", "it's", "a/b",
          "c\\d", "~tilde", "Café", "crème", "Grüße", "€5", "中文", "naïve", "señor", "Ωmega" };

// Words with capitals, digits and symbols, as dictation with punctuation
// and numbers produces them.
inline const QStringList asciiWords
    = { "Hello", "world,", "the", "Quick", "brown", "fox:", "jumps", "over", "13", "lazy", "dogs!", "(see",
          "page", "42)", "50%", "off;", "A+B=C", "e-mail", "you@example.org", "#1", "$20", "[ok]", "{x}",
          "\"quoted\"", "it's", "a/b", "c\\d", "x_y", "~tilde", "`tick`", "<tag>", "&", "^", "*", "|", "?" };

// The same text for the same length every run.
inline QString mixedText(int length, const QStringList &words = mixedWords)
{
    QRandomGenerator random(7);
    QString text;
    while (text.size() < length)
        text += words[random.bounded(int(words.size()))] + u' ';
    text.truncate(length);
    return text;
}

inline int editDistance(const QString &a, const QString &b)
{
    std::vector<int> previous(size_t(b.size()) + 1), current(size_t(b.size()) + 1);
    for (size_t j = 0; j <= size_t(b.size()); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int substitution = previous[size_t(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[size_t(j)]
                = std::min({ previous[size_t(j)] + 1, current[size_t(j - 1)] + 1, substitution });
        }
        std::swap(previous, current);
    }
    return previous[size_t(b.size())];
}
