#pragma once

#include "platform/AudioEngine.h"

#include <QMutex>

#include <algorithm>
#include <memory>

// A microphone driven by the test: `deliver()` calls the tap as a capture thread would. Engines
// made by `factory()` share one `Control`, through which the test drives the current capture.
class FakeAudioEngine : public AudioEngine
{
public:
    struct Control {
        bool hasInputNode = true;
        AudioFormat format { 48000.0, 1 };
        int starts = 0;
        bool running = false;
        QMutex mutex;
        Tap tap;

        // Hands the current tap (false: none) `frames` frames of the constant `value`.
        bool deliver(quint32 frames, float value = 0.25f)
        {
            QMutexLocker lock(&mutex);
            const Tap current = tap;
            lock.unlock();
            if (!current)
                return false;
            AudioBuffer buffer { format, frames, QByteArray() };
            buffer.samples.resize(qsizetype(frames * format.channelCount * sizeof(float)));
            std::fill_n(
                reinterpret_cast<float *>(buffer.samples.data()), frames * format.channelCount, value);
            current(buffer);
            return true;
        }
    };

    explicit FakeAudioEngine(std::shared_ptr<Control> control)
        : m_control(std::move(control))
    {
    }

    static AudioEngineFactory factory(std::shared_ptr<Control> control)
    {
        return [control]() -> std::unique_ptr<AudioEngine> {
            return std::make_unique<FakeAudioEngine>(control);
        };
    }

    bool hasInputNode() const override { return m_control->hasInputNode; }
    AudioFormat inputFormat() const override { return m_control->format; }
    void installTap(quint32, Tap tap) override
    {
        QMutexLocker lock(&m_control->mutex);
        m_control->tap = std::move(tap);
    }
    void removeTap() override { installTap(0, nullptr); }
    // It never goes away.
    void setInterruptionHandler(InterruptionHandler) override { }
    std::optional<QString> start() override
    {
        ++m_control->starts;
        m_control->running = true;
        return std::nullopt;
    }
    void stop() override { m_control->running = false; }

private:
    std::shared_ptr<Control> m_control;
};
