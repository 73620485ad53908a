#pragma once

#include "platform/AudioEngine.h"
#include "platform/MicrophoneAuthorization.h"
#include "platform/SpeechRecognizerBackend.h"
#include "speech/DictationRecognizer.h"
#include "speech/PcmRecognizer.h"
#include "speech/RecognitionSession.h"
#include "speech/STTProvider.h"
#include "speech/SupportedLanguage.h"
#include "speech/TranscriptEvent.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class AudioRecordingService;
class SpeechService;

// The one front end through which the program dictates. For every session it
// chooses the on-device recognizer or the server client, runs it, and hands
// its results to the session's own object. It never types anything. One
// session captures at a time; the sessions before it may still be collecting
// their last results.
class SpeechRecognitionManager : public DictationRecognizer
{
    Q_OBJECT
    Q_PROPERTY(
        QString transcribedText READ transcribedText WRITE setTranscribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(SupportedLanguage selectedLanguage READ selectedLanguage NOTIFY selectedLanguageChanged)
    Q_PROPERTY(STTProviders::STTProvider activeProvider READ activeProvider NOTIFY activeProviderChanged)
    Q_PROPERTY(
        STTProviders::STTProvider preferredProvider READ preferredProvider NOTIFY preferredProviderChanged)
    Q_PROPERTY(bool isOnDeviceAvailable READ isOnDeviceAvailable NOTIFY isOnDeviceAvailableChanged)
    Q_PROPERTY(bool isServerAvailable READ isServerAvailable CONSTANT)

public:
    // Translated where it is shown, once the user's catalogue is loaded.
    static constexpr const char *microphoneNotAuthorizedMessage
        = QT_TR_NOOP("Microphone access not authorized. Please enable it in your desktop's Sound settings");

    // Where the user's choice of path is kept ("On-device" or "Server").
    static inline const QString preferredProviderKey = QStringLiteral("preferredProvider");

    // Both recognizers hear the microphone through `audioService`.
    SpeechRecognitionManager(SpeechRecognizerBackend &recognizers, MicrophoneAuthorization &microphone,
        std::unique_ptr<SpeechService> serverSpeechService,
        std::unique_ptr<AudioRecordingService> audioService, QObject *parent = nullptr);
    ~SpeechRecognitionManager() override;

    QString transcribedText() const { return m_transcribedText; }
    void setTranscribedText(const QString &text);
    bool isListening() const { return m_isListening; }
    QString errorMessage() const override { return m_errorMessage; } // null when none
    SupportedLanguage selectedLanguage() const { return m_selectedLanguage; }
    STTProvider activeProvider() const override { return m_activeProvider; }
    STTProvider preferredProvider() const { return m_preferredProvider; }
    bool isOnDeviceAvailable() const { return m_isOnDeviceAvailable; }
    bool isServerAvailable() const { return true; }
    bool hasPermission() const { return m_hasPermission; }

    SpeechService &serverSpeechService() { return *m_serverSpeechService; }
    AudioRecordingService &audioService() { return *m_audioService; }

    QCoro::Task<bool> requestPermission();
    void setLanguage(SupportedLanguage language) override;
    SupportedLanguage language() const override { return m_selectedLanguage; }
    Q_INVOKABLE void setLanguageCode(const QString &code);
    // Listens on behalf of `recording`; its results come out of the session
    // returned (null when it could not start: the reason is errorMessage()).
    QCoro::Task<std::shared_ptr<RecognitionSession>> startListening(quint64 recording = 0) override;
    // Closes the session's microphone, then returns once its last results
    // are in. Safe for a session whose capture already ended.
    QCoro::Task<> stopListening(std::shared_ptr<RecognitionSession> session) override;
    // The running session, if any.
    std::shared_ptr<RecognitionSession> currentSession() const { return m_session; }
    Q_INVOKABLE void togglePreferredProvider();

Q_SIGNALS:
    void transcribedTextChanged(QString value);
    void isListeningChanged(bool value);
    void selectedLanguageChanged(SupportedLanguage value);
    void activeProviderChanged(STTProviders::STTProvider value);
    void preferredProviderChanged(STTProviders::STTProvider value);
    void isOnDeviceAvailableChanged(bool value);
    // Internal: a capture closed; a language change's restart ended.
    void stopSettled();
    void restartSettled();

private:
    struct Restart;
    struct Feed;

    void checkOnDeviceAvailability();
    void selectProvider();
    std::shared_ptr<PcmRecognizer> makeOnDeviceRecognizer();
    std::shared_ptr<PcmRecognizer> makeServerRecognizer();
    // Makes `recognizer` the one the capture feeds and the one whose reports count.
    void attach(std::shared_ptr<PcmRecognizer> recognizer);
    QCoro::Task<> startRecognition();
    void handleTranscript(RecognitionSession &session, const TranscriptEvent &event);
    void handleCaptureInterruption(AudioEngine::Interruption what, const QString &reason);
    QCoro::Task<> fallBackToServer(PcmRecognizer *failed);
    // Stops the capture and detaches the running session from it; its
    // recognizer still finishes on its own.
    QCoro::Task<> closeCapture();
    QCoro::Task<> finishEngine(std::shared_ptr<RecognitionSession> session);
    QCoro::Task<> restartInNewLanguage(std::shared_ptr<Restart> restart);

    void setIsListening(bool value);
    void setErrorMessage(const QString &message);
    void setSelectedLanguage(SupportedLanguage language);
    void setActiveProvider(STTProvider provider);
    void setPreferredProvider(STTProvider provider);
    void setIsOnDeviceAvailable(bool value);

    QString m_transcribedText;
    bool m_isListening = false;
    QString m_errorMessage;
    SupportedLanguage m_selectedLanguage = SupportedLanguage::english_US;
    STTProvider m_activeProvider = STTProvider::onDevice;
    bool m_isOnDeviceAvailable = false;
    STTProvider m_preferredProvider = STTProvider::onDevice;

    SpeechRecognizerBackend &m_recognizers;
    MicrophoneAuthorization &m_microphone;

    // Shared: the session it was made for may outlive a language change.
    std::shared_ptr<SpeechRecognizer> m_speechRecognizer;
    // The session that captures now, and its recognizer.
    std::shared_ptr<RecognitionSession> m_session;
    std::weak_ptr<RecognitionSession> m_shownSession;
    std::shared_ptr<PcmRecognizer> m_recognizer;
    // The utterances the session's recognizer reported, making up the transcribed text.
    QMap<quint64, QString> m_utterances;
    std::shared_ptr<Feed> m_feed;

    bool m_hasPermission = false;
    std::unique_ptr<SpeechService> m_serverSpeechService;
    std::unique_ptr<AudioRecordingService> m_audioService;

    bool m_stopping = false;
    std::shared_ptr<Restart> m_restart;
};
