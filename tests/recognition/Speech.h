#pragma once

#include "platform/AudioEngine.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

// Spoken test material: flite's voice, read back as 16 kHz mono samples.
namespace Speech {

inline const QString modelFolder = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

inline bool haveTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty();
}

// The samples of a 16-bit PCM WAV file (the first channel), and its rate.
inline std::vector<qint16> readWav(const QString &path, int *sampleRate = nullptr, int *channels = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return {};
    int rate = 0;
    int channelCount = 1;
    qsizetype offset = 12;
    while (offset + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(offset, 4);
        const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + offset + 4);
        const char *body = bytes.constData() + offset + 8;
        if (id == "fmt ") {
            channelCount = qFromLittleEndian<quint16>(body + 2);
            rate = int(qFromLittleEndian<quint32>(body + 4));
        } else if (id == "data") {
            const qsizetype available = std::min<qsizetype>(size, bytes.size() - offset - 8);
            std::vector<qint16> samples;
            for (qsizetype i = 0; i + 2 * channelCount <= available; i += 2 * channelCount)
                samples.push_back(qFromLittleEndian<qint16>(body + i));
            if (sampleRate)
                *sampleRate = rate;
            if (channels)
                *channels = channelCount;
            return samples;
        }
        offset += 8 + size + (size & 1);
    }
    return {};
}

inline bool writeWav(const QString &path, const std::vector<qint16> &samples, int sampleRate = 16000)
{
    QByteArray header(44, '\0');
    char *h = header.data();
    const quint32 dataBytes = quint32(samples.size() * 2);
    std::memcpy(h, "RIFF", 4);
    qToLittleEndian<quint32>(36 + dataBytes, h + 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(1, h + 20);
    qToLittleEndian<quint16>(1, h + 22);
    qToLittleEndian<quint32>(quint32(sampleRate), h + 24);
    qToLittleEndian<quint32>(quint32(sampleRate * 2), h + 28);
    qToLittleEndian<quint16>(2, h + 32);
    qToLittleEndian<quint16>(16, h + 34);
    std::memcpy(h + 36, "data", 4);
    qToLittleEndian<quint32>(dataBytes, h + 40);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(header);
    QByteArray data(qsizetype(dataBytes), '\0');
    for (size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(samples[i], data.data() + i * 2);
    return file.write(data) == data.size();
}

inline std::vector<qint16> say(const QString &text, const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("say.wav"));
    QProcess::execute(QStringLiteral("flite"), { QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
                                                 text, QStringLiteral("-o"), path });
    // Without flite's leading zeros the recording starts with sound, as a
    // microphone's does: a file and a session then decode identically.
    std::vector<qint16> samples = readWav(path);
    const auto firstSound = std::find_if(samples.begin(), samples.end(), [](qint16 sample) { return sample != 0; });
    samples.erase(samples.begin(), firstSound);
    return samples;
}

inline std::vector<qint16> silence(double seconds)
{
    return std::vector<qint16>(size_t(seconds * 16000), 0);
}

inline std::vector<qint16> join(std::initializer_list<std::vector<qint16>> parts)
{
    std::vector<qint16> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the engine alone makes of a file: its utterances joined by blanks.
inline QString decodeWithEngine(const QString &wavPath)
{
    QProcess engine;
    engine.start(QStringLiteral("pocketsphinx_continuous"),
                 { QStringLiteral("-hmm"), modelFolder + QStringLiteral("/en-us"), QStringLiteral("-lm"),
                   modelFolder + QStringLiteral("/en-us.lm.bin"), QStringLiteral("-dict"),
                   modelFolder + QStringLiteral("/cmudict-en-us.dict"), QStringLiteral("-logfn"),
                   QStringLiteral("/dev/null"), QStringLiteral("-infile"), wavPath });
    if (!engine.waitForFinished(60000))
        return QString();
    QStringList utterances;
    for (const QString &line : QString::fromUtf8(engine.readAllStandardOutput()).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            utterances << line.trimmed();
    }
    return utterances.join(u' ');
}

// The samples as the microphone delivers them: float buffers of `frames`.
inline std::vector<AudioBuffer> asBuffers(const std::vector<qint16> &samples, quint32 frames = 1024,
                                          double sampleRate = 16000.0)
{
    std::vector<AudioBuffer> buffers;
    for (size_t start = 0; start < samples.size(); start += frames) {
        const size_t count = std::min<size_t>(frames, samples.size() - start);
        AudioBuffer buffer;
        buffer.format = { sampleRate, 1 };
        buffer.frameLength = quint32(count);
        buffer.samples.resize(qsizetype(count * sizeof(float)));
        auto *out = reinterpret_cast<float *>(buffer.samples.data());
        for (size_t i = 0; i < count; ++i)
            out[i] = float(samples[start + i]) / 32768.0f;
        buffers.push_back(buffer);
    }
    return buffers;
}

} // namespace Speech
