#include "app/LanguageCatalog.h"

#include "app/LanguageNames.h"

#include <QLocale>

namespace
{

// What a language is also known by: its name in itself, and the ISO 639
// codes people type for it ("de", "deu", "ger").
struct OtherNames {
    QString native;
    QStringList codes;
};

OtherNames otherNames(const SupportedLanguage &language)
{
    const QLocale locale(language.rawValue());
    OtherNames names;
    if (locale.language() == QLocale::C)
        return names;
    names.native = locale.nativeLanguageName();
    for (const QLocale::LanguageCodeType type :
        { QLocale::ISO639Part1, QLocale::ISO639Part2B, QLocale::ISO639Part2T, QLocale::ISO639Part3 }) {
        const QString code = QLocale::languageToCode(locale.language(), type);
        if (!code.isEmpty() && !names.codes.contains(code))
            names.codes << code;
    }
    return names;
}

} // namespace

QList<SupportedLanguage> LanguageCatalog::filtered(const QString &searchText)
{
    // Case folded the way the user's language does it.
    const QLocale locale;
    const QString needle = locale.toLower(searchText.trimmed());
    if (needle.isEmpty())
        return SupportedLanguage::allCases();
    QList<SupportedLanguage> found;
    for (const SupportedLanguage &language : SupportedLanguage::allCases()) {
        // The English name still finds a language on a desktop in another language.
        bool matches = locale.toLower(localizedLanguageName(language)).contains(needle)
            || locale.toLower(language.displayName()).contains(needle)
            || language.rawValue().toLower().startsWith(needle);
        if (!matches) {
            const OtherNames other = otherNames(language);
            matches = locale.toLower(other.native).contains(needle) || other.codes.contains(needle);
        }
        if (matches)
            found << language;
    }
    return found;
}

QVariantList LanguageCatalog::matching(const QString &searchText) const
{
    QVariantList list;
    for (const SupportedLanguage &language : filtered(searchText))
        list << QVariant::fromValue(language);
    return list;
}

QString LanguageCatalog::nameOf(const QString &code) const
{
    const std::optional<SupportedLanguage> language = SupportedLanguage::fromCode(code);
    return language ? localizedLanguageName(*language) : QString();
}
