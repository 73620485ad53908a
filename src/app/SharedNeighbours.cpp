// The dictation controller's neighbours in the running program: the shared
// recognition manager and text insertion service.

#include "app/DictationNeighbours.h"

#include "output/TextInsertionService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"

namespace {

class SharedRecognizer : public DictationRecognizer
{
public:
    explicit SharedRecognizer(SpeechRecognitionManager &manager) : m_manager(manager)
    {
        connect(&m_manager, &SpeechRecognitionManager::transcribedTextChanged, this,
                &DictationRecognizer::transcribedTextChanged);
        connect(&m_manager, &SpeechRecognitionManager::errorMessageChanged, this,
                &DictationRecognizer::errorMessageChanged);
        connect(&m_manager, &SpeechRecognitionManager::isListeningChanged, this,
                &DictationRecognizer::isListeningChanged);
    }

    QString transcribedText() const override { return m_manager.transcribedText(); }
    QString errorMessage() const override { return m_manager.errorMessage(); }
    bool isListening() const override { return m_manager.isListening(); }
    STTProvider activeProvider() const override { return m_manager.activeProvider(); }
    void clearTranscripts() override
    {
        m_manager.setTranscribedText(QString());
        m_manager.googleSpeechService().setTranscribedText(QString());
    }
    QCoro::Task<> startListening() override { return m_manager.startListening(); }
    QCoro::Task<> stopListening() override { return m_manager.stopListening(); }
    void setLanguage(SupportedLanguage language) override { m_manager.setLanguage(language); }

private:
    SpeechRecognitionManager &m_manager;
};

class SharedTyping : public DictationTyping
{
public:
    explicit SharedTyping(TextInsertionService &service) : m_service(service) {}

    bool isAccessibilityTrusted() const override { return m_service.isAccessibilityTrusted(); }
    bool requestAccessibilityTrust() override { return m_service.requestAccessibilityTrust(); }
    void setNeedsAccessibilityPermission(bool needed) override
    {
        m_service.setNeedsAccessibilityPermission(needed);
    }
    void resetForNewRecording() override
    {
        m_service.setLastInsertedText(QString());
        m_service.setPendingText(std::nullopt);
    }
    QCoro::Task<> insertText(QString text) override { return m_service.insertText(std::move(text)); }
    QCoro::Task<> showEnableAccessibilityAlert() override
    {
        return m_service.showEnableAccessibilityAlert();
    }
    QCoro::Task<> showAccessibilityPermissionAlert() override
    {
        return m_service.showAccessibilityPermissionAlert();
    }

private:
    TextInsertionService &m_service;
};

} // namespace

DictationRecognizer &DictationRecognizer::sharedRecognizer()
{
    static SharedRecognizer *instance = new SharedRecognizer(SpeechRecognitionManager::shared());
    return *instance;
}

DictationTyping &DictationTyping::sharedTyping()
{
    static SharedTyping *instance = new SharedTyping(TextInsertionService::shared());
    return *instance;
}
