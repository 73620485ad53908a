#include "speech/engines/pocketsphinx/PocketSphinxModel.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace
{

const QString debianModelFolder = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

bool isAcousticModel(const QString &folder)
{
    return QFileInfo(folder + QStringLiteral("/mdef")).isFile()
        && QFileInfo(folder + QStringLiteral("/means")).isFile();
}

// The first readable file in `folder` whose name ends in one of `suffixes`,
// trying the suffixes in order; sorted by name so that the choice is stable.
QString firstFileEndingIn(const QDir &folder, const QStringList &suffixes)
{
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &suffix : suffixes) {
        for (const QFileInfo &file : files) {
            if (file.fileName().endsWith(suffix))
                return file.absoluteFilePath();
        }
    }
    return {};
}

} // namespace

std::optional<PocketSphinxModel> PocketSphinxModel::inFolder(const QString &folderPath)
{
    const QDir folder(folderPath);
    if (!folder.exists())
        return std::nullopt;

    PocketSphinxModel model;
    if (isAcousticModel(folder.absolutePath())) {
        model.acousticModel = folder.absolutePath();
    } else {
        const QFileInfoList subfolders = folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &subfolder : subfolders) {
            if (isAcousticModel(subfolder.absoluteFilePath())) {
                model.acousticModel = subfolder.absoluteFilePath();
                break;
            }
        }
    }
    // A phonetic language model (en-us-phone.lm.bin) only recognizes phones.
    QStringList languageModels;
    for (const QFileInfo &file : folder.entryInfoList(QDir::Files | QDir::Readable, QDir::Name)) {
        const QString name = file.fileName();
        if (!name.contains(QStringLiteral("-phone."))
            && (name.endsWith(QStringLiteral(".lm.bin")) || name.endsWith(QStringLiteral(".lm"))
                || name.endsWith(QStringLiteral(".arpa")) || name.endsWith(QStringLiteral(".lm.dmp"))
                || name.endsWith(QStringLiteral(".DMP")))) {
            languageModels << file.absoluteFilePath();
        }
    }
    // A binary model loads fastest; prefer it where a folder has several.
    std::stable_sort(languageModels.begin(), languageModels.end(), [](const QString &a, const QString &b) {
        return a.endsWith(QStringLiteral(".lm.bin")) && !b.endsWith(QStringLiteral(".lm.bin"));
    });
    if (!languageModels.isEmpty())
        model.languageModel = languageModels.first();
    model.dictionary = firstFileEndingIn(folder, { QStringLiteral(".dict"), QStringLiteral(".dic") });

    if (model.acousticModel.isEmpty() || model.languageModel.isEmpty() || model.dictionary.isEmpty())
        return std::nullopt;
    return model;
}

PocketSphinxModel PocketSphinxModel::debianUsEnglishLocation()
{
    PocketSphinxModel model;
    model.acousticModel = debianModelFolder + QStringLiteral("/en-us");
    model.languageModel = debianModelFolder + QStringLiteral("/en-us.lm.bin");
    model.dictionary = debianModelFolder + QStringLiteral("/cmudict-en-us.dict");
    model.packaged = true;
    return model;
}

bool PocketSphinxModel::isInstalled() const
{
    return isAcousticModel(acousticModel) && QFileInfo(languageModel).isReadable()
        && QFileInfo(dictionary).isReadable();
}

std::optional<PocketSphinxModel> PocketSphinxModel::debianUsEnglish()
{
    PocketSphinxModel model = debianUsEnglishLocation();
    if (!model.isInstalled())
        return std::nullopt;
    return model;
}

std::optional<PocketSphinxModel> PocketSphinxModel::forLocale(const QString &code)
{
    // The code becomes part of a path: only a plain language-REGION tag may.
    static const QRegularExpression plainTag(QStringLiteral("^[A-Za-z]{2,3}(-[A-Za-z0-9]{2,8})*$"));
    if (!plainTag.match(code).hasMatch())
        return std::nullopt;

    const QStringList dataFolders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString &dataFolder : dataFolders) {
        if (auto model = inFolder(dataFolder + QStringLiteral("/tellwind/models/") + code))
            return model;
    }
    if (code == QLatin1String("en-US"))
        return debianUsEnglish();
    return std::nullopt;
}
