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
// shows up as "no input node" or a start error, never as a hang. A stream or
// server lost while capturing is reported at once and looked for again for
// two seconds before the capture is given up.
class PulseAudioEngine : public AudioEngine
{
public:
    // The source to capture, by name; the server's default when it is empty
    // or not connected.
    explicit PulseAudioEngine(const QString &preferredSource = QString());
    ~PulseAudioEngine() override;

    // Makes a new engine per call, as the capture service expects, for the
    // microphone chosen in the settings at that moment.
    static AudioEngineFactory factory();
    static inline const QString microphoneKey = QStringLiteral("microphone");

    bool hasInputNode() const override;
    AudioFormat inputFormat() const override;
    void installTap(quint32 bufferFrames, Tap tap) override;
    void removeTap() override;
    std::optional<QString> start() override;
    void stop() override;
    // The handler runs on libpulse's thread with its lock held: it must only
    // hand the news on, never call back into the engine.
    void setInterruptionHandler(InterruptionHandler handler) override;

    // The source this engine captures, empty when there is none.
    QString sourceName() const;

    // The sound server's input sources (monitors of outputs left out), as
    // (name, description), in the server's order. Waits for the server:
    // call it off the GUI thread.
    static QList<QPair<QString, QString>> inputSources();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
