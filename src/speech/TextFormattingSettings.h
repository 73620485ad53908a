#pragma once

#include "speech/TextFormatter.h"

#include <QObject>

// The formatter's switches as the user sets them (Settings → General). The
// settings file is the only copy, so the switches and the dictation that
// reads them never disagree.
class TextFormattingSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool autoCapitalize READ autoCapitalize WRITE setAutoCapitalize NOTIFY autoCapitalizeChanged)
    Q_PROPERTY(bool spokenPunctuation READ spokenPunctuation WRITE setSpokenPunctuation NOTIFY
            spokenPunctuationChanged)

public:
    static constexpr const char *autoCapitalizeKey = "autoCapitalize";
    static constexpr const char *spokenPunctuationKey = "spokenPunctuation";

    using QObject::QObject;

    bool autoCapitalize() const;
    void setAutoCapitalize(bool enabled);
    bool spokenPunctuation() const;
    void setSpokenPunctuation(bool enabled);

    static TextFormatter::Options options();

signals:
    void autoCapitalizeChanged(bool enabled);
    void spokenPunctuationChanged(bool enabled);
};
