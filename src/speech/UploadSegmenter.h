#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <chrono>
#include <optional>
#include <vector>

// Where the server path cuts a dictation's audio (16 kHz mono signed 16-bit
// little-endian) into uploads. The server decodes every upload on its own, so
// a cut through a word costs that word on both sides; an upload therefore ends
// at the first pause once it is long enough, and only a speaker who never
// pauses gets a cut at the longest length allowed.
//
// A pause is a stretch of quiet frames. Quiet is judged against the input's
// own recent levels rather than a fixed one, so that a soft voice, a loud
// microphone and a noisy room all show their pauses.
class UploadSegmenter
{
public:
    static constexpr int sampleRate = 16000;
    static constexpr qsizetype bytesPerSecond = sampleRate * 2;

    struct Bounds {
        // An upload is cut at the first pause after this much audio.
        std::chrono::milliseconds interval { 3000 };
        // The recognizer needs this much audio to settle; shorter uploads,
        // only ever the last one, are padded with silence.
        std::chrono::milliseconds minimum { 1500 };
        // Without a pause the upload is cut here, wherever that falls. Long
        // enough for a long sentence: read aloud, one ran 6.8 s before its
        // first pause past the interval, and a 6 s bound cut it (seven more
        // word errors in a hundred). Short enough that the words of a speaker
        // who never pauses still show every few seconds, and that one decode
        // stays short.
        std::chrono::milliseconds maximum { 8000 };
        // Shorter than the silence between sentences and phrases, longer
        // than the closure of a stop consonant or the joint of two words
        // said in one breath.
        std::chrono::milliseconds pause { 200 };
    };

    struct Segment {
        QByteArray pcm;
        // How much of it is speech: the padding, the silence before the first
        // word, after the last, and every pause between are not.
        std::chrono::milliseconds speech { 0 };
    };

    UploadSegmenter();
    explicit UploadSegmenter(Bounds bounds);

    // Takes the next bytes of the stream, in any chunking; returns the uploads
    // they complete, in order.
    QList<Segment> append(QByteArrayView pcm);
    // The rest of the stream, padded to the minimum; nothing when nothing is left.
    std::optional<Segment> finish();

    // Whole samples only.
    static constexpr qsizetype bytes(std::chrono::milliseconds duration)
    {
        return qsizetype(duration.count()) * bytesPerSecond / 1000 / 2 * 2;
    }

private:
    void analyseFrame(const char *frame);
    bool isQuiet(float level);
    Segment cutAt(qsizetype frames);

    Bounds m_bounds;
    qsizetype m_minimumFrames;
    qsizetype m_searchFrames;
    qsizetype m_maximumFrames;
    qsizetype m_pauseFrames;

    QByteArray m_pending; // not yet uploaded, starting at a frame boundary
    qsizetype m_pendingFrames = 0; // whole frames of m_pending already judged

    // Levels of the recent frames, across uploads, to judge quiet by.
    std::vector<float> m_levels;
    size_t m_nextLevel = 0;
    std::vector<float> m_scratch;

    qsizetype m_quietRun = 0; // quiet frames at the end of m_pending
    bool m_heardSpeech = false; // in the pending upload
    qsizetype m_speechFrames = 0;
};
