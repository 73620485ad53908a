#pragma once

#include "platform/AudioEngine.h"

#include <QByteArray>

#include <vector>

struct soxr;

// Streaming conversion of captured float buffers to the upload format: 16 kHz,
// mono, signed 16-bit little-endian. The resampler keeps its filter state from
// one buffer to the next, so a capture converted buffer by buffer sounds the
// same as one converted whole, and `flush()` hands out the tail it still holds
// (after which the converter starts a new stream).
//
// The resampler hands out its output in bursts. A fixed hold-back smooths
// them, so every buffer yields the samples its own duration is worth (1365 or
// 1366 for 4096 frames at 48 kHz) at the cost of 64 ms of latency. Input that
// is already at 16 kHz passes straight through, without the delay.
// Not thread-safe; use it from one thread at a time.
class PcmConverter
{
public:
    static constexpr double targetSampleRate = 16000.0;
    static constexpr qint64 resamplingHoldBackFrames = 1024;

    explicit PcmConverter(AudioFormat input);
    ~PcmConverter();
    PcmConverter(const PcmConverter &) = delete;
    PcmConverter &operator=(const PcmConverter &) = delete;

    bool isValid() const { return m_soxr != nullptr; }
    AudioFormat inputFormat() const { return m_input; }

    // The converted samples of `buffer` (in the input format), as bytes.
    QByteArray convert(const AudioBuffer &buffer);
    // The samples still inside the resampler, once the input has ended.
    QByteArray flush();

    qint64 inputFrames() const { return m_inputFrames; }
    qint64 outputFrames() const { return m_outputFrames; }

private:
    void process(const float *mono, size_t frames, bool last);
    QByteArray take(qint64 frames);

    AudioFormat m_input;
    soxr *m_soxr = nullptr;
    std::vector<float> m_mono;
    std::vector<float> m_resampled;
    std::vector<qint16> m_ready; // converted, not yet handed out
    qint64 m_holdBack = 0;
    qint64 m_inputFrames = 0;
    qint64 m_outputFrames = 0;
    qint64 m_streamInput = 0; // since the last flush
    qint64 m_streamOutput = 0;
};
