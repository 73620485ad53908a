#pragma once

#include "platform/AudioEngine.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>

#include <cstring>
#include <memory>
#include <vector>

// A microphone driven by the test: `deliver()` calls the installed tap the way
// a capture thread would. Engines made by `factory()` share one `Control`, so
// a test can inspect and drive the engine of the current capture.
class FakeAudioEngine : public AudioEngine
{
public:
    struct Control {
        bool hasInputNode = true;
        AudioFormat format { 48000.0, 1 };
        std::optional<QString> startError;
        bool failCreation = false;

        int enginesMade = 0;
        int starts = 0;
        int stops = 0;
        quint32 tapBufferFrames = 0;

        // Calls the current tap (if any) with a buffer of `frames` frames whose
        // every sample is `value`.
        bool deliver(quint32 frames, float value = 0.25f)
        {
            AudioBuffer buffer;
            buffer.format = format;
            buffer.frameLength = frames;
            buffer.samples.resize(qsizetype(frames * format.channelCount * sizeof(float)));
            auto *samples = reinterpret_cast<float *>(buffer.samples.data());
            for (quint32 i = 0; i < frames * format.channelCount; ++i)
                samples[i] = value;
            return deliver(buffer);
        }

        bool deliver(const AudioBuffer &buffer)
        {
            Tap current;
            {
                QMutexLocker lock(&mutex);
                current = tap;
            }
            if (!current)
                return false;
            current(buffer);
            return true;
        }

        QMutex mutex;
        Tap tap;
        bool running = false;
    };

    explicit FakeAudioEngine(std::shared_ptr<Control> control) : m_control(std::move(control)) { }

    static AudioEngineFactory factory(std::shared_ptr<Control> control)
    {
        return [control]() -> std::unique_ptr<AudioEngine> {
            if (control->failCreation)
                return nullptr;
            ++control->enginesMade;
            return std::make_unique<FakeAudioEngine>(control);
        };
    }

    bool hasInputNode() const override { return m_control->hasInputNode; }
    AudioFormat inputFormat() const override { return m_control->format; }
    void installTap(quint32 bufferFrames, Tap tap) override
    {
        QMutexLocker lock(&m_control->mutex);
        m_control->tapBufferFrames = bufferFrames;
        m_control->tap = std::move(tap);
    }
    void removeTap() override
    {
        QMutexLocker lock(&m_control->mutex);
        m_control->tap = nullptr;
    }
    std::optional<QString> start() override
    {
        ++m_control->starts;
        if (m_control->startError)
            return m_control->startError;
        m_control->running = true;
        return std::nullopt;
    }
    void stop() override
    {
        ++m_control->stops;
        m_control->running = false;
    }

private:
    std::shared_ptr<Control> m_control;
};
