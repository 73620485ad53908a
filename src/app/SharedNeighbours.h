#pragma once

#include "app/DictationNeighbours.h"

class SpeechRecognitionManager;
class TextInsertionService;

class ManagerRecognizer : public DictationRecognizer
{
    Q_OBJECT

public:
    explicit ManagerRecognizer(SpeechRecognitionManager &manager, QObject *parent = nullptr);

    QString errorMessage() const override;
    bool isListening() const override;
    STTProvider activeProvider() const override;
    QCoro::Task<> startListening(quint64 recording) override;
    QCoro::Task<> stopListening() override;
    void setLanguage(SupportedLanguage language) override;
    SupportedLanguage language() const override;

private:
    SpeechRecognitionManager &m_manager;
};

class ServiceTyping : public DictationTyping
{
public:
    explicit ServiceTyping(TextInsertionService &service)
        : m_service(service)
    {
    }

    bool isAccessibilityTrusted() const override;
    bool requestAccessibilityTrust() override;
    void setNeedsAccessibilityPermission(bool needed) override;
    void beginRecording(quint64 recording) override;
    QCoro::Task<> insertTranscript(TranscriptEvent event) override;
    QCoro::Task<> showEnableAccessibilityAlert() override;
    QCoro::Task<> showAccessibilityPermissionAlert() override;

private:
    TextInsertionService &m_service;
};
