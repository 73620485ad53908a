// The dictation controller's neighbours in the running program: the
// recognition manager and the text insertion service, seen through the
// narrow interfaces the controller uses.

#include "app/SharedNeighbours.h"

#include "output/TextInsertionService.h"
#include "speech/SpeechRecognitionManager.h"

ManagerRecognizer::ManagerRecognizer(SpeechRecognitionManager &manager, QObject *parent)
    : DictationRecognizer(parent)
    , m_manager(manager)
{
    connect(&m_manager, &SpeechRecognitionManager::transcript, this, &DictationRecognizer::transcript);
    connect(&m_manager, &SpeechRecognitionManager::recognitionError, this,
        &DictationRecognizer::recognitionError);
    connect(&m_manager, &SpeechRecognitionManager::errorMessageChanged, this,
        &DictationRecognizer::errorMessageChanged);
    connect(&m_manager, &SpeechRecognitionManager::isListeningChanged, this,
        &DictationRecognizer::isListeningChanged);
}

QString ManagerRecognizer::errorMessage() const
{
    return m_manager.errorMessage();
}

bool ManagerRecognizer::isListening() const
{
    return m_manager.isListening();
}

STTProvider ManagerRecognizer::activeProvider() const
{
    return m_manager.activeProvider();
}

QCoro::Task<> ManagerRecognizer::startListening(quint64 recording)
{
    return m_manager.startListening(recording);
}

QCoro::Task<> ManagerRecognizer::stopListening()
{
    return m_manager.stopListening();
}

void ManagerRecognizer::setLanguage(SupportedLanguage language)
{
    m_manager.setLanguage(language);
}

SupportedLanguage ManagerRecognizer::language() const
{
    return m_manager.selectedLanguage();
}

bool ServiceTyping::isAccessibilityTrusted() const
{
    return m_service.isAccessibilityTrusted();
}

bool ServiceTyping::requestAccessibilityTrust()
{
    return m_service.requestAccessibilityTrust();
}

void ServiceTyping::setNeedsAccessibilityPermission(bool needed)
{
    m_service.setNeedsAccessibilityPermission(needed);
}

void ServiceTyping::beginRecording(quint64 recording)
{
    m_service.beginRecording(recording);
}

QCoro::Task<> ServiceTyping::insertTranscript(TranscriptEvent event)
{
    return m_service.insertTranscript(std::move(event));
}

QCoro::Task<> ServiceTyping::showEnableAccessibilityAlert()
{
    return m_service.showEnableAccessibilityAlert();
}

QCoro::Task<> ServiceTyping::showAccessibilityPermissionAlert()
{
    return m_service.showAccessibilityPermissionAlert();
}
