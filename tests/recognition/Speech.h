#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

// Spoken test material: flite's voice as 16 kHz mono s16le samples.
namespace Speech {

inline const QString modelFolder = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

inline bool haveTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty();
}

inline QByteArray silence(double seconds)
{
    return QByteArray(qsizetype(seconds * 16000) * 2, '\0');
}

inline QByteArray say(const QString &text, const QDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("say.wav"));
    QProcess::execute(QStringLiteral("flite"), { "-voice", "kal16", "-t", text, "-o", path });
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wav = file.readAll();
    const qsizetype data = wav.indexOf("data");
    return data < 0 ? QByteArray() : wav.mid(data + 8);
}

} // namespace Speech
