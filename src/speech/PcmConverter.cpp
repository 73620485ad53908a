#include "speech/PcmConverter.h"

#include <soxr.h>

#include <QtEndian>

#include <algorithm>
#include <cmath>

PcmConverter::PcmConverter(AudioFormat input)
    : m_input(input)
{
    if (!(input.sampleRate > 0) || input.channelCount == 0 || !std::isfinite(input.sampleRate))
        return;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t resampler = soxr_create(input.sampleRate, targetSampleRate, 1, &error, &io, &quality, nullptr);
    if (error) {
        soxr_delete(resampler);
        return;
    }
    m_soxr = resampler;
    m_holdBack = input.sampleRate == targetSampleRate ? 0 : resamplingHoldBackFrames;
}

PcmConverter::~PcmConverter()
{
    soxr_delete(m_soxr);
}

QByteArray PcmConverter::convert(const AudioBuffer &buffer)
{
    if (!m_soxr || buffer.format.channelCount == 0)
        return {};
    const quint32 channels = buffer.format.channelCount;
    const size_t available = size_t(buffer.samples.size()) / sizeof(float) / channels;
    const size_t frames = std::min<size_t>(buffer.frameLength, available);
    const auto *samples = reinterpret_cast<const float *>(buffer.samples.constData());

    // Speech needs one channel: the average keeps a voice that reaches only one
    // side of a stereo source at a usable level.
    m_mono.resize(frames);
    if (channels == 1) {
        std::copy_n(samples, frames, m_mono.begin());
    } else {
        for (size_t frame = 0; frame < frames; ++frame) {
            float sum = 0;
            for (quint32 channel = 0; channel < channels; ++channel)
                sum += samples[frame * channels + channel];
            m_mono[frame] = sum / float(channels);
        }
    }
    m_inputFrames += qint64(frames);
    m_streamInput += qint64(frames);
    process(m_mono.data(), frames, false);

    const auto due
        = qint64(std::floor(double(m_streamInput) * targetSampleRate / m_input.sampleRate)) - m_holdBack;
    return take(due - m_streamOutput);
}

QByteArray PcmConverter::flush()
{
    if (!m_soxr)
        return {};
    process(nullptr, 0, true);
    QByteArray tail = take(qint64(m_ready.size()));
    soxr_clear(m_soxr);
    m_streamInput = 0;
    m_streamOutput = 0;
    return tail;
}

void PcmConverter::process(const float *mono, size_t frames, bool last)
{
    const double ratio = targetSampleRate / m_input.sampleRate;
    m_resampled.resize(size_t(double(frames) * ratio) + 64);
    size_t consumed = 0;
    for (;;) {
        size_t used = 0;
        size_t produced = 0;
        const float *in = last ? nullptr : mono + consumed;
        soxr_error_t error = soxr_process(
            m_soxr, in, frames - consumed, &used, m_resampled.data(), m_resampled.size(), &produced);
        if (error)
            break;
        consumed += used;
        for (size_t i = 0; i < produced; ++i) {
            const float scaled = std::clamp(m_resampled[i] * 32768.0f, -32768.0f, 32767.0f);
            m_ready.push_back(qint16(std::lrint(scaled)));
        }
        // More output than room: go round again with the rest of the input.
        if ((produced < m_resampled.size() && consumed >= frames) || (used == 0 && produced == 0))
            break;
    }
}

QByteArray PcmConverter::take(qint64 frames)
{
    frames = std::clamp<qint64>(frames, 0, qint64(m_ready.size()));
    QByteArray out(qsizetype(frames * qint64(sizeof(qint16))), Qt::Uninitialized);
    auto *target = reinterpret_cast<uchar *>(out.data());
    for (qint64 i = 0; i < frames; ++i)
        qToLittleEndian<qint16>(m_ready[size_t(i)], target + i * qint64(sizeof(qint16)));
    m_ready.erase(m_ready.begin(), m_ready.begin() + frames);
    m_outputFrames += frames;
    m_streamOutput += frames;
    return out;
}
