#pragma once

#include "speech/engines/SpeechEngine.h"
#include "speech/engines/pocketsphinx/PocketSphinxDecoderPool.h"
#include "speech/engines/pocketsphinx/PocketSphinxModel.h"

#include <chrono>
#include <memory>
#include <optional>

// Recognition on this machine with PocketSphinx: a language is served where a
// model is installed for it and has not failed to load.
SpeechEngine pocketSphinxEngine(std::shared_ptr<PocketSphinxDecoderPool> pool);

// One session, decoding on a worker thread of its own. Partial hypotheses
// arrive as results that are not final; when the decoder's voice-activity
// tracking ends an utterance its final hypothesis arrives as a final result,
// and the session goes on with the next utterance.
class PocketSphinxSession : public EngineSession
{
    Q_OBJECT

public:
    struct Channel;
    struct Report;

    // Blocks of the engine's own file reader: the decoder then sees the same
    // blocks and checks for the end of an utterance at the same places.
    static constexpr int samplesPerBlock = 2048;
    static constexpr int sampleRate = 16000;
    // How long a session waits for speech before it says it heard none.
    static constexpr int noSpeechSeconds = 5;
    // How long a finish waits for the decoder's last result at most.
    static constexpr std::chrono::milliseconds finishTimeout { 5000 };

    PocketSphinxSession(
        std::optional<PocketSphinxModel> model, std::shared_ptr<PocketSphinxDecoderPool> pool);
    ~PocketSphinxSession() override;

    QCoro::Task<std::optional<EngineError>> start(quint64 recording, quint64 firstUtterance) override;
    void feed(const QByteArray &pcm) override;
    // Ends the audio before cancelling: the decoder still turns the last
    // words into a final result.
    QCoro::Task<> finish() override;

Q_SIGNALS:
    // The worker is done (cancelled, finished or failed): nothing follows.
    void ended();

private:
    void handle(const Report &report);
    void cancel();

    std::optional<PocketSphinxModel> m_model;
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
    // Made at once, so that audio fed before `start` is kept; read on the
    // capture thread without a lock.
    const std::shared_ptr<Channel> m_channel;
    quint64 m_firstUtterance = 0;
    bool m_started = false;
    bool m_ended = false;
};
