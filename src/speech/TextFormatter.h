#pragma once

#include <QString>
#include <QStringView>

// Turns recognized words into written text: spoken punctuation ("comma",
// "new line") becomes the marks, sentences and certain words ("i", days,
// months) get their capitals. Each language has its own table, a data file
// under formatting/; a language without one is left as recognized.
//
// The result depends only on the whole text and the context, never on
// earlier calls: the typing diff relies on that to correct what a partial
// result formatted differently (a trailing "new" that becomes "new line").
class TextFormatter
{
public:
    struct Options {
        bool autoCapitalize = true;
        bool spokenPunctuation = true;
        // We cannot read what the focused application shows before the
        // cursor, so by default every recording is taken to open a sentence.
        // Off, only a text known to follow a sentence end gets the capital.
        bool capitalizeRecordingStart = true;
    };

    struct Context {
        QString language; // a code such as "en-US"
        Options options;
        bool recordingStart = true;
        // What was typed right before the text ends a sentence.
        bool followsSentenceEnd = false;
    };

    static QString format(const QString &text, const Context &context);
    // Whether `language` has a table, i.e. whether format() can change its text.
    static bool supports(QStringView language);
};
