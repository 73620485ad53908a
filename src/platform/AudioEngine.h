#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The format a source delivers: interleaved 32-bit float samples.
struct AudioFormat {
    double sampleRate = 0; // 0 when the source cannot be used
    quint32 channelCount = 0;
};

// One captured buffer in the source's native format.
struct AudioBuffer {
    AudioFormat format;
    quint32 frameLength = 0;
    QByteArray samples; // frameLength * channelCount floats, interleaved
};

// The microphone: the default input source of the sound server, tapped in its
// native format. An engine captures once; make a new one for every start.
class AudioEngine
{
public:
    using Tap = std::function<void(const AudioBuffer &)>; // runs on the capture thread

    virtual ~AudioEngine() = default;

    // False when there is no default input source at all.
    virtual bool hasInputNode() const = 0;
    virtual AudioFormat inputFormat() const = 0;
    virtual void installTap(quint32 bufferFrames, Tap tap) = 0;
    virtual void removeTap() = 0;
    // Starts capture; the error text when the source cannot be opened.
    virtual std::optional<QString> start() = 0;
    virtual void stop() = 0;
};

using AudioEngineFactory = std::function<std::unique_ptr<AudioEngine>()>;
