#pragma once

class QCoreApplication;

// Loads Tellwind's catalogue (and Qt's own, where installed) for the user's
// languages, as the desktop's LANGUAGE / LC_MESSAGES / LANG give them. Must
// run before any window or text is made: texts already made keep their language.
void installTranslations(QCoreApplication &application);
