#include "speech/PocketSphinxSpeechBackend.h"

#include "speech/PocketSphinxModel.h"
#include "speech/PocketSphinxRecognizer.h"

PocketSphinxSpeechBackend::PocketSphinxSpeechBackend(std::chrono::milliseconds keepModelsLoaded)
    : m_pool(PocketSphinxDecoderPool::create(keepModelsLoaded))
{
}

std::unique_ptr<SpeechRecognizer> PocketSphinxSpeechBackend::makeRecognizer(const QString &localeIdentifier)
{
    std::optional<PocketSphinxModel> model = PocketSphinxModel::forLocale(localeIdentifier);
    if (!model)
        return nullptr;
    return std::make_unique<PocketSphinxRecognizer>(std::move(model), m_pool);
}

std::shared_ptr<SpeechRecognitionRequest> PocketSphinxSpeechBackend::makeRequest()
{
    return std::make_shared<PocketSphinxRecognitionRequest>();
}

QCoro::Task<SpeechRecognizerAuthorizationStatus> PocketSphinxSpeechBackend::requestAuthorization()
{
    co_return SpeechRecognizerAuthorizationStatus::authorized;
}
