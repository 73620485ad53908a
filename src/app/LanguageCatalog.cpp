#include "app/LanguageCatalog.h"

#include <QLocale>

QList<SupportedLanguage> LanguageCatalog::filtered(const QString &searchText)
{
    if (searchText.isEmpty())
        return SupportedLanguage::allCases();
    // Case folded the way the user's language does it.
    const QLocale locale;
    const QString needle = locale.toLower(searchText);
    QList<SupportedLanguage> found;
    for (const SupportedLanguage &language : SupportedLanguage::allCases())
        if (locale.toLower(language.displayName()).contains(needle))
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
