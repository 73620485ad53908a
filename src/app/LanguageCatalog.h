#pragma once

#include "speech/SupportedLanguage.h"

#include <QObject>
#include <QVariantList>
#include <QtQmlIntegration/qqmlintegration.h>

// The picker's view of the language catalogue.
class LanguageCatalog : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Every language whose name in the user's language, in English or in
    // itself ("Deutsch") contains `searchText`, ignoring case, or whose code
    // starts with it ("de", "de-DE", "deu", "ger"), in catalogue order; all of
    // them for an empty search. Surrounding spaces are ignored; flags are not
    // searched.
    static QList<SupportedLanguage> filtered(const QString &searchText);

    // The same, as SupportedLanguage values for a QML list.
    Q_INVOKABLE QVariantList matching(const QString &searchText) const;

    // The name of the language with `code` in the user's language; empty for
    // a code not in the catalogue.
    Q_INVOKABLE QString nameOf(const QString &code) const;
};
