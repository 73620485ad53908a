#pragma once

#include "platform/AudioEngine.h"
#include "platform/MicrophoneAuthorization.h"
#include "speech/DictationRecognizer.h"
#include "speech/RecognitionSession.h"
#include "speech/SupportedLanguage.h"
#include "speech/TranscriptEvent.h"
#include "speech/engines/SpeechEngine.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class AudioRecordingService;

// The one front end through which the program dictates. For every session it
// chooses an engine of the registry (the user's preferred one where it can
// serve the language, else the next one), runs it, and hands its results to
// the session's own object. An engine that fails hands the running capture
// to the next one. It never types anything. One
// session captures at a time; the sessions before it may still be collecting
// their last results.
class SpeechRecognitionManager : public DictationRecognizer
{
    Q_OBJECT
    Q_PROPERTY(
        QString transcribedText READ transcribedText WRITE setTranscribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(SupportedLanguage selectedLanguage READ selectedLanguage NOTIFY selectedLanguageChanged)
    Q_PROPERTY(QString activeEngine READ activeEngine NOTIFY activeEngineChanged)
    Q_PROPERTY(QString preferredEngine READ preferredEngine NOTIFY preferredEngineChanged)
    // Whether the preferred engine sends the audio off this machine.
    Q_PROPERTY(bool prefersRemoteEngine READ prefersRemoteEngine NOTIFY preferredEngineChanged)

public:
    // Translated where it is shown, once the user's catalogue is loaded.
    static constexpr const char *microphoneNotAuthorizedMessage
        = QT_TR_NOOP("Microphone access not authorized. Please enable it in your desktop's Sound settings");

    // Where the user's choice of engine is kept, by its id ("On-device",
    // "Server"); the key predates the registry.
    static inline const QString preferredProviderKey = QStringLiteral("preferredProvider");

    // Every engine hears the microphone through `audioService`. The registry
    // must have a row and outlive the manager.
    SpeechRecognitionManager(EngineRegistry &engines, MicrophoneAuthorization &microphone,
        std::unique_ptr<AudioRecordingService> audioService, QObject *parent = nullptr);
    ~SpeechRecognitionManager() override;

    QString transcribedText() const { return m_transcribedText; }
    void setTranscribedText(const QString &text);
    bool isListening() const { return m_isListening; }
    QString errorMessage() const override { return m_errorMessage; } // null when none
    SupportedLanguage selectedLanguage() const { return m_selectedLanguage; }
    QString activeEngine() const override { return engine(m_active).id; }
    bool isActiveEngineRemote() const override { return engine(m_active).remote; }
    QString preferredEngine() const { return engine(m_preferred).id; }
    bool prefersRemoteEngine() const { return engine(m_preferred).remote; }
    bool hasPermission() const { return m_hasPermission; }

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
    // The next engine of the registry becomes the preferred one.
    Q_INVOKABLE void togglePreferredProvider();

Q_SIGNALS:
    void transcribedTextChanged(QString value);
    void isListeningChanged(bool value);
    void selectedLanguageChanged(SupportedLanguage value);
    void activeEngineChanged(const QString &id);
    void preferredEngineChanged(const QString &id);
    // Internal: a capture closed; a language change's restart ended.
    void stopSettled();
    void restartSettled();

private:
    struct Restart;
    struct Feed;

    const SpeechEngine &engine(int index) const { return m_engines.engines()[size_t(index)]; }
    // The first engine from `from` on that can serve the selected language; -1 when none.
    int engineFor(int from) const;
    void selectEngine();
    std::shared_ptr<EngineSession> makeSession();
    // Makes `recognizer` the one the capture feeds and the one whose reports count.
    void attach(std::shared_ptr<EngineSession> recognizer);
    QCoro::Task<> startRecognition();
    void handleTranscript(RecognitionSession &session, const TranscriptEvent &event);
    void handleCaptureInterruption(AudioEngine::Interruption what, const QString &reason);
    QCoro::Task<> fallBack(EngineSession *failed, EngineError error);
    // Stops the capture and detaches the running session from it; its
    // recognizer still finishes on its own.
    QCoro::Task<> closeCapture();
    QCoro::Task<> finishEngine(std::shared_ptr<RecognitionSession> session);
    QCoro::Task<> restartInNewLanguage(std::shared_ptr<Restart> restart);

    void setIsListening(bool value);
    void setErrorMessage(const QString &message);
    void setSelectedLanguage(SupportedLanguage language);
    void setActive(int index);
    void setPreferred(int index);

    QString m_transcribedText;
    bool m_isListening = false;
    QString m_errorMessage;
    SupportedLanguage m_selectedLanguage = SupportedLanguage::english_US;
    int m_active = 0; // of the registry's rows
    int m_preferred = 0;

    EngineRegistry &m_engines;
    MicrophoneAuthorization &m_microphone;

    // The session that captures now, and its engine's.
    std::shared_ptr<RecognitionSession> m_session;
    std::weak_ptr<RecognitionSession> m_shownSession;
    std::shared_ptr<EngineSession> m_recognizer;
    // The utterances the session's recognizer reported, making up the transcribed text.
    QMap<quint64, QString> m_utterances;
    std::shared_ptr<Feed> m_feed;

    bool m_hasPermission = false;
    std::unique_ptr<AudioRecordingService> m_audioService;

    bool m_stopping = false;
    std::shared_ptr<Restart> m_restart;
};
