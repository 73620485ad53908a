#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace
{

bool install(QCoreApplication &application, const QString &name, const QString &directory)
{
    auto *translator = new QTranslator(&application);
    // QLocale() walks the user's language list in order, so "LANGUAGE=fr:de"
    // falls back to German where no French catalogue ships.
    if (translator->load(QLocale(), name, QStringLiteral("_"), directory)) {
        QCoreApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

} // namespace

void installTranslations(QCoreApplication &application)
{
    // Without ours there is no point in Qt's: a German "Abbrechen" beside
    // English texts reads worse than English throughout.
    if (install(application, QStringLiteral("tellwind"), QStringLiteral(":/i18n")))
        install(application, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
