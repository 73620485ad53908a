#include "speech/UploadSegmenter.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace
{

// Frames of 10 ms: short enough to see a pause begin, long enough to hold a
// pitch period of most voices, so that voiced sound does not look quiet
// between its pulses.
constexpr qsizetype framesPerSecond = 100;
constexpr qsizetype frameSamples = UploadSegmenter::sampleRate / framesPerSecond;
constexpr qsizetype frameBytes = frameSamples * 2;

// How far back the input's levels are remembered: long enough to hold both
// speech and the silence around it, short enough to follow a room that
// becomes noisier or a speaker who moves away.
constexpr size_t historyFrames = 5 * framesPerSecond;

// The background is the level most of the quiet frames stay below, the voice
// the level its loud frames reach; both by rank, so that a click or a dropout
// moves neither.
constexpr double backgroundRank = 0.10;
constexpr double voiceRank = 0.95;
// A frame is quiet when it stays this close to the background: a fraction of
// the way to the voice, and never closer than the frame-to-frame wobble of
// steady noise.
constexpr float quietFraction = 0.3f;
constexpr float leastMarginDb = 6.0f;

qsizetype framesIn(std::chrono::milliseconds duration)
{
    return qsizetype(duration.count()) * framesPerSecond / 1000;
}

std::chrono::milliseconds durationOf(qsizetype frames)
{
    return std::chrono::milliseconds(frames * 1000 / framesPerSecond);
}

} // namespace

UploadSegmenter::UploadSegmenter()
    : UploadSegmenter(Bounds {})
{
}

UploadSegmenter::UploadSegmenter(Bounds bounds)
    : m_bounds(bounds)
    , m_minimumFrames(framesIn(bounds.minimum))
    , m_searchFrames(std::max(framesIn(bounds.interval), framesIn(bounds.minimum)))
    // The longest upload bounds even an interval set longer.
    , m_maximumFrames(std::max(framesIn(bounds.maximum), framesIn(bounds.minimum)))
    , m_pauseFrames(std::max<qsizetype>(1, framesIn(bounds.pause)))
{
    m_levels.reserve(historyFrames);
    m_scratch.reserve(historyFrames);
}

QList<UploadSegmenter::Segment> UploadSegmenter::append(QByteArrayView pcm)
{
    QList<Segment> segments;
    m_pending.append(pcm);
    while ((m_pendingFrames + 1) * frameBytes <= m_pending.size()) {
        analyseFrame(m_pending.constData() + m_pendingFrames * frameBytes);
        ++m_pendingFrames;
        if (m_pendingFrames >= m_maximumFrames) {
            segments << cutAt(m_pendingFrames);
        } else if (m_pendingFrames >= m_searchFrames && m_quietRun >= m_pauseFrames) {
            // Inside the pause, so that both uploads keep some of its
            // silence: the recognizer hears the last word end and the next
            // one begin.
            segments << cutAt(std::max(m_minimumFrames, m_pendingFrames - m_pauseFrames / 2));
        }
    }
    return segments;
}

std::optional<UploadSegmenter::Segment> UploadSegmenter::finish()
{
    if (m_pending.isEmpty())
        return std::nullopt;
    Segment segment { std::exchange(m_pending, QByteArray()), durationOf(m_speechFrames) };
    // Silence after the speech changes no word, and keeps every upload long
    // enough for the recognizer.
    const qsizetype least = bytes(m_bounds.minimum);
    if (segment.pcm.size() < least)
        segment.pcm.append(QByteArray(least - segment.pcm.size(), '\0'));
    m_pendingFrames = 0;
    m_quietRun = 0;
    m_heardSpeech = false;
    m_speechFrames = 0;
    return segment;
}

UploadSegmenter::Segment UploadSegmenter::cutAt(qsizetype frames)
{
    Segment segment { m_pending.left(frames * frameBytes), durationOf(m_speechFrames) };
    m_pending.remove(0, frames * frameBytes);
    m_pendingFrames -= frames;
    // What stays behind is the rest of the pause: no speech yet.
    m_quietRun = std::min(m_quietRun, m_pendingFrames);
    m_heardSpeech = false;
    m_speechFrames = 0;
    return segment;
}

void UploadSegmenter::analyseFrame(const char *frame)
{
    double energy = 0;
    for (qsizetype i = 0; i < frameSamples; ++i) {
        const double sample = qFromLittleEndian<qint16>(frame + i * 2);
        energy += sample * sample;
    }
    // In decibels above one step of the converter: digital silence is 0.
    const auto level = float(10.0 * std::log10(energy / frameSamples + 1.0));

    if (isQuiet(level)) {
        ++m_quietRun;
    } else {
        // A gap shorter than a pause is part of the speech around it.
        if (m_heardSpeech && m_quietRun < m_pauseFrames)
            m_speechFrames += m_quietRun;
        ++m_speechFrames;
        m_heardSpeech = true;
        m_quietRun = 0;
    }
}

bool UploadSegmenter::isQuiet(float level)
{
    if (m_levels.size() < historyFrames)
        m_levels.push_back(level);
    else
        m_levels[m_nextLevel] = level;
    m_nextLevel = (m_nextLevel + 1) % historyFrames;

    m_scratch.assign(m_levels.begin(), m_levels.end());
    const auto rank = [this](double fraction) {
        const auto at = m_scratch.begin() + std::ptrdiff_t(fraction * double(m_scratch.size() - 1));
        std::nth_element(m_scratch.begin(), at, m_scratch.end());
        return *at;
    };
    const float background = rank(backgroundRank);
    const float voice = rank(voiceRank);
    return level < background + std::max(leastMarginDb, quietFraction * (voice - background));
}
