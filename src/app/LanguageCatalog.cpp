#include "app/LanguageCatalog.h"

#include "app/LanguageNames.h"

#include <QLocale>

QList<SupportedLanguage> LanguageCatalog::filtered(const QString &searchText)
{
    if (searchText.isEmpty())
        return SupportedLanguage::allCases();
    // Case folded the way the user's language does it.
    const QLocale locale;
    const QString needle = locale.toLower(searchText);
    QList<SupportedLanguage> found;
    // The English name still finds a language on a desktop in another language.
    for (const SupportedLanguage &language : SupportedLanguage::allCases())
        if (locale.toLower(localizedLanguageName(language)).contains(needle)
            || locale.toLower(language.displayName()).contains(needle))
            found << language;
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
