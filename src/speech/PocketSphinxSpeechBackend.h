#pragma once

#include "platform/SpeechRecognizerBackend.h"
#include "speech/PocketSphinxDecoderPool.h"

#include <memory>

// On-device recognition with PocketSphinx: a locale has a recognizer where a
// model is installed for it. Speech recognition needs no permission of its own
// on Linux, so authorization is always granted.
class PocketSphinxSpeechBackend : public SpeechRecognizerBackend
{
public:
    // A model stays loaded for `keepModelsLoaded` after its last session.
    explicit PocketSphinxSpeechBackend(
        std::chrono::milliseconds keepModelsLoaded = PocketSphinxDecoderPool::defaultKeepIdle);

    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QString &localeIdentifier) override;
    std::shared_ptr<SpeechRecognitionRequest> makeRequest() override;
    QCoro::Task<SpeechRecognizerAuthorizationStatus> requestAuthorization() override;

    const std::shared_ptr<PocketSphinxDecoderPool> &pool() const { return m_pool; }

private:
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
};
