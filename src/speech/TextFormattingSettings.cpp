#include "speech/TextFormattingSettings.h"

#include "common/Settings.h"

namespace
{

bool stored(const char *key)
{
    return Settings::boolValue(QString::fromLatin1(key), true);
}

} // namespace

bool TextFormattingSettings::autoCapitalize() const
{
    return stored(autoCapitalizeKey);
}

void TextFormattingSettings::setAutoCapitalize(bool enabled)
{
    if (enabled == autoCapitalize())
        return;
    Settings::setBool(QString::fromLatin1(autoCapitalizeKey), enabled);
    emit autoCapitalizeChanged(enabled);
}

bool TextFormattingSettings::spokenPunctuation() const
{
    return stored(spokenPunctuationKey);
}

void TextFormattingSettings::setSpokenPunctuation(bool enabled)
{
    if (enabled == spokenPunctuation())
        return;
    Settings::setBool(QString::fromLatin1(spokenPunctuationKey), enabled);
    emit spokenPunctuationChanged(enabled);
}

TextFormatter::Options TextFormattingSettings::options()
{
    TextFormatter::Options options;
    options.autoCapitalize = stored(autoCapitalizeKey);
    options.spokenPunctuation = stored(spokenPunctuationKey);
    return options;
}
