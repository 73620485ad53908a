#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <random>

// 16 kHz mono 16-bit audio that an energy-based pause detector hears as a
// speaker would sound: voiced stretches (a few harmonics under a swell at the
// rate of syllables, never falling silent) and silences, over optional hiss.
struct SpeechPart {
    bool voiced;
    int ms;
};
inline constexpr auto voiced = [](int ms) { return SpeechPart { true, ms }; };
inline constexpr auto silent = [](int ms) { return SpeechPart { false, ms }; };

inline QByteArray syntheticSpeech(const QList<SpeechPart> &parts, double loudness = 8000, double noise = 0)
{
    std::mt19937 random(7);
    std::normal_distribution<double> hiss(0.0, 1.0);
    QByteArray pcm;
    qsizetype n = 0;
    for (const SpeechPart &part : parts) {
        for (int i = 0; i < part.ms * 16; ++i, ++n) {
            const double t = double(n) / 16000.0;
            double value = noise > 0 ? noise * hiss(random) : 0.0;
            if (part.voiced) {
                const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 4 * t);
                value += loudness * swell
                    * (std::sin(2 * M_PI * 150 * t) + 0.5 * std::sin(2 * M_PI * 300 * t)
                        + 0.3 * std::sin(2 * M_PI * 450 * t))
                    / 1.8;
            }
            char sample[2];
            qToLittleEndian<qint16>(qint16(std::clamp(std::lround(value), -32768L, 32767L)), sample);
            pcm.append(sample, 2);
        }
    }
    return pcm;
}
