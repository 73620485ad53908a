#pragma once

#include "speech/SupportedLanguage.h"

#include <QString>

// A language's name in the user's language ("Deutsch" on a German desktop),
// its English name where the catalogue has none. Log lines keep the English one.
QString localizedLanguageName(const SupportedLanguage &language);

// Every English name the translators are given; a test holds it to the catalogue.
QStringList translatableLanguageNames();
