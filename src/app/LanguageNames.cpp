#include "app/LanguageNames.h"

#include <QCoreApplication>
#include <QStringList>

namespace
{

constexpr const char *context = "LanguageNames";

// The names as lupdate finds them; at run time the English name is the key.
constexpr const char *names[] = {
    QT_TRANSLATE_NOOP("LanguageNames", "English (US)"),
    QT_TRANSLATE_NOOP("LanguageNames", "English (UK)"),
    QT_TRANSLATE_NOOP("LanguageNames", "English (Australia)"),
    QT_TRANSLATE_NOOP("LanguageNames", "English (Canada)"),
    QT_TRANSLATE_NOOP("LanguageNames", "English (India)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Spanish (Spain)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Spanish (Mexico)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Spanish (US)"),
    QT_TRANSLATE_NOOP("LanguageNames", "French (France)"),
    QT_TRANSLATE_NOOP("LanguageNames", "French (Canada)"),
    QT_TRANSLATE_NOOP("LanguageNames", "German"),
    QT_TRANSLATE_NOOP("LanguageNames", "Italian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Portuguese (Brazil)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Portuguese (Portugal)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Chinese (Simplified)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Chinese (Traditional)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Chinese (Hong Kong)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Japanese"),
    QT_TRANSLATE_NOOP("LanguageNames", "Korean"),
    QT_TRANSLATE_NOOP("LanguageNames", "Russian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Arabic (Saudi)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Arabic (UAE)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Hindi"),
    QT_TRANSLATE_NOOP("LanguageNames", "Dutch"),
    QT_TRANSLATE_NOOP("LanguageNames", "Dutch (Belgium)"),
    QT_TRANSLATE_NOOP("LanguageNames", "Polish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Swedish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Danish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Norwegian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Finnish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Turkish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Thai"),
    QT_TRANSLATE_NOOP("LanguageNames", "Vietnamese"),
    QT_TRANSLATE_NOOP("LanguageNames", "Indonesian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Malay"),
    QT_TRANSLATE_NOOP("LanguageNames", "Hebrew"),
    QT_TRANSLATE_NOOP("LanguageNames", "Albanian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Croatian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Serbian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Slovenian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Bosnian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Macedonian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Montenegrin"),
    QT_TRANSLATE_NOOP("LanguageNames", "Ukrainian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Greek"),
    QT_TRANSLATE_NOOP("LanguageNames", "Czech"),
    QT_TRANSLATE_NOOP("LanguageNames", "Romanian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Hungarian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Slovak"),
    QT_TRANSLATE_NOOP("LanguageNames", "Bulgarian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Latvian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Lithuanian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Estonian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Belarusian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Catalan"),
    QT_TRANSLATE_NOOP("LanguageNames", "Basque"),
    QT_TRANSLATE_NOOP("LanguageNames", "Galician"),
    QT_TRANSLATE_NOOP("LanguageNames", "Irish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Welsh"),
    QT_TRANSLATE_NOOP("LanguageNames", "Icelandic"),
    QT_TRANSLATE_NOOP("LanguageNames", "Maltese"),
    QT_TRANSLATE_NOOP("LanguageNames", "Luxembourgish"),
    QT_TRANSLATE_NOOP("LanguageNames", "Filipino"),
    QT_TRANSLATE_NOOP("LanguageNames", "Bengali"),
    QT_TRANSLATE_NOOP("LanguageNames", "Tamil"),
    QT_TRANSLATE_NOOP("LanguageNames", "Telugu"),
    QT_TRANSLATE_NOOP("LanguageNames", "Marathi"),
    QT_TRANSLATE_NOOP("LanguageNames", "Gujarati"),
    QT_TRANSLATE_NOOP("LanguageNames", "Kannada"),
    QT_TRANSLATE_NOOP("LanguageNames", "Malayalam"),
    QT_TRANSLATE_NOOP("LanguageNames", "Punjabi"),
    QT_TRANSLATE_NOOP("LanguageNames", "Urdu"),
    QT_TRANSLATE_NOOP("LanguageNames", "Nepali"),
    QT_TRANSLATE_NOOP("LanguageNames", "Sinhala"),
    QT_TRANSLATE_NOOP("LanguageNames", "Khmer"),
    QT_TRANSLATE_NOOP("LanguageNames", "Lao"),
    QT_TRANSLATE_NOOP("LanguageNames", "Burmese"),
    QT_TRANSLATE_NOOP("LanguageNames", "Mongolian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Kazakh"),
    QT_TRANSLATE_NOOP("LanguageNames", "Uzbek"),
    QT_TRANSLATE_NOOP("LanguageNames", "Azerbaijani"),
    QT_TRANSLATE_NOOP("LanguageNames", "Georgian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Armenian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Swahili"),
    QT_TRANSLATE_NOOP("LanguageNames", "Afrikaans"),
    QT_TRANSLATE_NOOP("LanguageNames", "Zulu"),
    QT_TRANSLATE_NOOP("LanguageNames", "Amharic"),
    QT_TRANSLATE_NOOP("LanguageNames", "Somali"),
    QT_TRANSLATE_NOOP("LanguageNames", "Hausa"),
    QT_TRANSLATE_NOOP("LanguageNames", "Yoruba"),
    QT_TRANSLATE_NOOP("LanguageNames", "Igbo"),
    QT_TRANSLATE_NOOP("LanguageNames", "Persian"),
    QT_TRANSLATE_NOOP("LanguageNames", "Pashto"),
    QT_TRANSLATE_NOOP("LanguageNames", "Kurdish"),
};

} // namespace

QString localizedLanguageName(const SupportedLanguage &language)
{
    return QCoreApplication::translate(context, language.displayName().toUtf8().constData());
}

QStringList translatableLanguageNames()
{
    QStringList list;
    for (const char *name : names)
        list << QString::fromUtf8(name);
    return list;
}
