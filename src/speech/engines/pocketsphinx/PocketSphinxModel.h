#pragma once

#include <QString>

#include <optional>

// The three parts PocketSphinx needs to recognize one language.
struct PocketSphinxModel {
    QString acousticModel; // folder holding mdef, means, variances, ...
    QString languageModel; // .lm.bin, .lm or .arpa
    QString dictionary; // .dict
    // Installed by the distribution's package (and so known to be whole).
    bool packaged = false;

    // Identifies the model: two locales sharing these files share decoders.
    QString key() const { return acousticModel + u'\n' + languageModel + u'\n' + dictionary; }

    friend bool operator==(const PocketSphinxModel &, const PocketSphinxModel &) = default;

    // The model for a locale code ("en-US"): a folder
    // <data dir>/tellwind/models/<code>/ in one of the user's or the system's
    // data directories (the user's first), and for US English the model
    // Debian's pocketsphinx-en-us package installs. None when neither exists.
    static std::optional<PocketSphinxModel> forLocale(const QString &code);
    // The model inside one folder, when it holds all three parts.
    static std::optional<PocketSphinxModel> inFolder(const QString &folder);
    static std::optional<PocketSphinxModel> debianUsEnglish();
    // Where that package puts it, whether it is there or not.
    static PocketSphinxModel debianUsEnglishLocation();
    // All three parts are on disk (whether they load is another matter).
    bool isInstalled() const;
};
