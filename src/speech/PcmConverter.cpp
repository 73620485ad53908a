#include "speech/PcmConverter.h"

#include <soxr.h>

#include <QtEndian>

#include <algorithm>
#include <cmath>

PcmConverter::PcmConverter(AudioFormat input) : m_input(input)
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
    return process(m_mono.data(), frames, false);
}

QByteArray PcmConverter::flush()
{
    if (!m_soxr)
        return {};
    return process(nullptr, 0, true);
}

QByteArray PcmConverter::process(const float *mono, size_t frames, bool last)
{
    const double ratio = targetSampleRate / m_input.sampleRate;
    m_resampled.resize(size_t(double(frames) * ratio) + 64);
    QByteArray out;
    size_t consumed = 0;
    for (;;) {
        size_t used = 0;
        size_t produced = 0;
        const float *in = last ? nullptr : mono + consumed;
        soxr_error_t error = soxr_process(m_soxr, in, frames - consumed, &used, m_resampled.data(),
                                          m_resampled.size(), &produced);
        if (error)
            break;
        consumed += used;
        if (produced > 0) {
            const qsizetype offset = out.size();
            out.resize(offset + qsizetype(produced * sizeof(qint16)));
            auto *target = reinterpret_cast<uchar *>(out.data() + offset);
            for (size_t i = 0; i < produced; ++i) {
                const float scaled = std::clamp(m_resampled[i] * 32768.0f, -32768.0f, 32767.0f);
                qToLittleEndian<qint16>(qint16(std::lrint(scaled)), target + i * sizeof(qint16));
            }
            m_outputFrames += qint64(produced);
        }
        // More output than room: go round again with the rest of the input.
        if ((produced < m_resampled.size() && consumed >= frames) || (used == 0 && produced == 0))
            break;
    }
    return out;
}
