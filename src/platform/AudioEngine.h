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

    // What became of a running capture: the source or the sound server went
    // away (`lost`), came back and the tap is fed again (`resumed`), or stayed
    // away and the capture is over (`ended`; the tap gets nothing more).
    // Everything captured before the loss has reached the tap by then.
    enum class Interruption { lost, resumed, ended };
    // Runs on the capture thread; `reason` is a sentence for the user.
    using InterruptionHandler = std::function<void(Interruption, const QString &reason)>;

    virtual ~AudioEngine() = default;

    // False when there is no default input source at all.
    virtual bool hasInputNode() const = 0;
    virtual AudioFormat inputFormat() const = 0;
    virtual void installTap(quint32 bufferFrames, Tap tap) = 0;
    virtual void removeTap() = 0;
    // Starts capture; the error text when the source cannot be opened.
    virtual std::optional<QString> start() = 0;
    virtual void stop() = 0;
    // Engines that cannot tell (or never lose their source) ignore it.
    virtual void setInterruptionHandler(InterruptionHandler handler) { (void)handler; }
};

using AudioEngineFactory = std::function<std::unique_ptr<AudioEngine>()>;
