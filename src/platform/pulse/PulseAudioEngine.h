#pragma once

#include "platform/AudioEngine.h"

#include <QString>

#include <memory>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// The default PulseAudio (or PipeWire-Pulse) source, captured in its native
// rate and channel count as interleaved float32. The stream runs on libpulse's
// own thread; the tap is called there with buffers of the requested size.
// Every wait on the sound server is bounded, so a missing or wedged server
// shows up as "no input node" or a start error, never as a hang.
class PulseAudioEngine : public AudioEngine
{
public:
    PulseAudioEngine();
    ~PulseAudioEngine() override;

    // Makes a new engine per call, as the capture service expects.
    static AudioEngineFactory factory();

    bool hasInputNode() const override;
    AudioFormat inputFormat() const override;
    void installTap(quint32 bufferFrames, Tap tap) override;
    void removeTap() override;
    std::optional<QString> start() override;
    void stop() override;

    // The default source's name, empty when there is none (for log lines).
    QString sourceName() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
