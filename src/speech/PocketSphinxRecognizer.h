#pragma once

#include "platform/SpeechRecognizerBackend.h"
#include "speech/PocketSphinxDecoderPool.h"
#include "speech/PocketSphinxModel.h"

#include <QString>

#include <memory>
#include <optional>

// Audio waiting for a PocketSphinx session. The capture thread appends, the
// session's worker thread takes, the main thread ends or cancels.
class PocketSphinxRecognitionRequest : public SpeechRecognitionRequest
{
public:
    struct Channel;

    PocketSphinxRecognitionRequest();
    ~PocketSphinxRecognitionRequest() override;

    void setShouldReportPartialResults(bool value) override;
    bool shouldReportPartialResults() const override;
    void append(const QByteArray &pcm) override;
    void endAudio() override;

    const std::shared_ptr<Channel> &channel() const { return m_channel; }

private:
    std::shared_ptr<Channel> m_channel;
};

// The on-device recognizer for one locale, decoding with PocketSphinx on a
// worker thread per task. Partial hypotheses arrive as results that are not
// final; when the decoder's voice-activity tracking ends an utterance its
// final hypothesis arrives as a final result, and the task goes on with the
// next utterance, every result carrying the earlier utterances in front.
class PocketSphinxRecognizer : public SpeechRecognizer
{
public:
    PocketSphinxRecognizer(
        std::optional<PocketSphinxModel> model, std::shared_ptr<PocketSphinxDecoderPool> pool);

    // Blocks of the engine's own file reader: the decoder then sees the same
    // blocks and checks for the end of an utterance at the same places.
    static constexpr int samplesPerBlock = 2048;
    static constexpr int sampleRate = 16000;
    // How long a session waits for speech before it says it heard none.
    static constexpr int noSpeechSeconds = 5;

    bool isAvailable() const override;
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler handler) override;

private:
    std::optional<PocketSphinxModel> m_model;
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
};
