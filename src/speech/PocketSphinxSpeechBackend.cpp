#include "speech/PocketSphinxSpeechBackend.h"

#include "speech/PocketSphinxModel.h"
#include "speech/PocketSphinxRecognizer.h"

PocketSphinxSpeechBackend::PocketSphinxSpeechBackend(const QStringList &preloadLocales)
    : m_pool(PocketSphinxDecoderPool::create())
{
    for (const QString &locale : preloadLocales) {
        if (const auto model = PocketSphinxModel::forLocale(locale))
            m_pool->preload(*model);
    }
}

PocketSphinxSpeechBackend &PocketSphinxSpeechBackend::shared()
{
    static PocketSphinxSpeechBackend instance;
    return instance;
}

std::unique_ptr<SpeechRecognizer> PocketSphinxSpeechBackend::makeRecognizer(const QString &localeIdentifier)
{
    std::optional<PocketSphinxModel> model = PocketSphinxModel::forLocale(localeIdentifier);
    if (!model)
        return nullptr;
    // A recognizer is made when its language is chosen, well before anyone
    // speaks: time enough to load its model.
    m_pool->preload(*model);
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
