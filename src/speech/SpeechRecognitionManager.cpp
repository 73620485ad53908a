#include "speech/SpeechRecognitionManager.h"

#include "common/Log.h"
#include "common/Observe.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechService.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <qcoro/qcorosignal.h>

#include <mutex>

namespace
{

const QString managerErrorDomain = QStringLiteral("SpeechRecognitionManager");
const QString audioEngineErrorDomain = QStringLiteral("AudioEngine");

QString mark(STTProvider provider)
{
    return provider == STTProvider::server ? QStringLiteral("☁️") : QStringLiteral("💻");
}

// Work from another thread, moved onto the main thread; dropped when the
// manager is gone by the time it runs.
template <typename Work> void onMainThread(QPointer<SpeechRecognitionManager> manager, Work work)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [manager, work = std::move(work)]() mutable {
            if (manager)
                work(manager.data());
        },
        Qt::QueuedConnection);
}

} // namespace

// The request the microphone tap appends to, swapped on the main thread while
// the tap reads it on the capture thread.
struct SpeechRecognitionManager::TapTarget {
    std::mutex mutex;
    std::shared_ptr<SpeechRecognitionRequest> request;

    void set(std::shared_ptr<SpeechRecognitionRequest> value)
    {
        std::lock_guard lock(mutex);
        request = std::move(value);
    }
    std::shared_ptr<SpeechRecognitionRequest> get()
    {
        std::lock_guard lock(mutex);
        return request;
    }
};

// A stop and a start on behalf of a language change, run one after the other.
struct SpeechRecognitionManager::Restart {
    bool starting = false; // past the stop: the start reads the language now
    bool again = false; // the language changed again while starting
    bool cancelled = false; // the user stopped listening meanwhile
};

SpeechRecognitionManager::SpeechRecognitionManager(SpeechRecognizerBackend &recognizers,
    MicrophoneAuthorization &microphone, AudioEngineFactory audioEngineFactory,
    std::unique_ptr<SpeechService> serverSpeechService, std::unique_ptr<AudioRecordingService> audioService,
    QObject *parent)
    : QObject(parent)
    , m_recognizers(recognizers)
    , m_microphone(microphone)
    , m_audioEngineFactory(std::move(audioEngineFactory))
    , m_tapTarget(std::make_shared<TapTarget>())
    , m_serverSpeechService(std::move(serverSpeechService))
    , m_audioService(std::move(audioService))
{
    checkOnDeviceAvailability();
    setupForwarding();
    if (m_audioService) {
        connect(m_audioService.get(), &AudioRecordingService::captureInterrupted, this,
            [this](AudioEngine::Interruption what, const QString &reason) {
                if (m_activeProvider == STTProvider::server)
                    handleCaptureInterruption(m_session, what, reason);
            });
    }
}

SpeechRecognitionManager::~SpeechRecognitionManager()
{
    m_tapTarget->set(nullptr);
    if (m_audioEngine) {
        m_audioEngine->stop();
        m_audioEngine->removeTap();
    }
    if (m_recognitionTask)
        m_recognitionTask->cancel();
}

void SpeechRecognitionManager::checkOnDeviceAvailability()
{
    const std::unique_ptr<SpeechRecognizer> probe = m_recognizers.makeRecognizer(QStringLiteral("en-US"));
    const bool available = probe && probe->isAvailable();
    setIsOnDeviceAvailable(available);
    if (!available) {
        logLine(QStringLiteral("⚠️ [STT] On-device recognition not available"));
        logLine(QStringLiteral("☁️ [STT] Falling back to the server"));
        setActiveProvider(STTProvider::server);
    } else {
        logLine(QStringLiteral("✅ [STT] On-device recognition is available"));
        setActiveProvider(STTProvider::onDevice);
    }
    logLine(QStringLiteral("🎯 [STT] Active provider: ") + rawValue(m_activeProvider));
}

void SpeechRecognitionManager::setupForwarding()
{
    // A server stream is one utterance: its replies only ever add to it.
    connect(
        m_serverSpeechService.get(), &SpeechService::transcript, this, [this](const TranscriptEvent &event) {
            if (event.recording != m_recording || m_activeProvider != STTProvider::server)
                return;
            setTranscribedText(event.text);
            publish(m_utteranceBase, event.text, event.isFinal);
        });
    connect(m_serverSpeechService.get(), &SpeechService::recognitionError, this,
        [this](const RecognitionError &error) {
            if (error.recording == m_recording && m_activeProvider == STTProvider::server)
                setErrorMessage(error.message);
        });
}

void SpeechRecognitionManager::publish(quint64 utterance, const QString &text, bool isFinal)
{
    m_nextUtterance = std::max(m_nextUtterance, utterance + 1);
    emit transcript(TranscriptEvent { m_recording, utterance, text, isFinal });
}

QCoro::Task<bool> SpeechRecognitionManager::requestPermission()
{
    QPointer<SpeechRecognitionManager> self(this);
    const SpeechRecognizerAuthorizationStatus speech = co_await m_recognizers.requestAuthorization();
    if (!self)
        co_return false;
    logLine(QStringLiteral("🔐 [STT] Speech recognition authorization: %1").arg(int(speech)));
    if (speech != SpeechRecognizerAuthorizationStatus::authorized) {
        logLine(QStringLiteral("⚠️ [STT] On-device recognition not authorized, will use the server"));
        setIsOnDeviceAvailable(false);
    }

    const MicrophoneAuthorizationStatus microphone = co_await m_microphone.authorizationStatus();
    if (!self)
        co_return false;
    switch (microphone) {
    case MicrophoneAuthorizationStatus::notDetermined: {
        const bool granted = co_await m_microphone.requestAccess();
        if (!self)
            co_return false;
        if (granted) {
            m_hasPermission = true;
            co_return true;
        }
        setErrorMessage(tr(microphoneNotAuthorizedMessage));
        co_return false;
    }
    case MicrophoneAuthorizationStatus::authorized:
        m_hasPermission = true;
        co_return true;
    default:
        setErrorMessage(tr(microphoneNotAuthorizedMessage));
        co_return false;
    }
}

void SpeechRecognitionManager::setLanguage(SupportedLanguage language)
{
    // A restart already under way counts as listening: it is the session.
    const bool wasListening = m_isListening || m_restart;

    setSelectedLanguage(language);
    m_speechRecognizer = m_recognizers.makeRecognizer(language.rawValue());
    if (m_speechRecognizer)
        m_speechRecognizer->setDefaultTaskHint(SpeechRecognitionTaskHint::dictation);
    logLine(
        QStringLiteral("🌐 [STT] Language set to: %1 (%2)").arg(language.displayName(), language.rawValue()));

    if (!wasListening)
        return;
    if (m_restart) {
        // A restart that has not begun its start yet picks the new language up.
        if (m_restart->starting)
            m_restart->again = true;
        return;
    }
    m_restart = std::make_shared<Restart>();
    QTimer::singleShot(0, this, [this, restart = m_restart] { restartInNewLanguage(restart); });
}

void SpeechRecognitionManager::setLanguageCode(const QString &code)
{
    if (const std::optional<SupportedLanguage> language = SupportedLanguage::fromCode(code))
        setLanguage(*language);
}

// The start waits for the stop to finish: on the cloud path the stop suspends
// for the final upload, and a start issued meanwhile would find the session
// still listening and do nothing.
QCoro::Task<> SpeechRecognitionManager::restartInNewLanguage(std::shared_ptr<Restart> restart)
{
    QPointer<SpeechRecognitionManager> self(this);
    do {
        restart->again = false;
        restart->starting = false;
        co_await stopSession();
        if (!self)
            co_return;
        if (restart->cancelled)
            break;
        restart->starting = true;
        co_await startListening(m_recording);
        if (!self)
            co_return;
        if (restart->cancelled) {
            // The user stopped while this start ran: the microphone must not stay open.
            co_await stopSession();
            if (!self)
                co_return;
            break;
        }
    } while (restart->again);
    if (m_restart == restart)
        m_restart.reset();
}

void SpeechRecognitionManager::selectProvider()
{
    if (m_preferredProvider == STTProvider::server) {
        setActiveProvider(STTProvider::server);
        logLine(QStringLiteral("🎯 [STT] Using the server (user preference)"));
        return;
    }
    const SupportedLanguage language = m_selectedLanguage;
    bool onDevice = false;
    if (!language.isCloudOnly() && m_isOnDeviceAvailable) {
        const std::unique_ptr<SpeechRecognizer> trial = m_recognizers.makeRecognizer(language.rawValue());
        onDevice = trial && trial->isAvailable();
    }
    if (onDevice) {
        setActiveProvider(STTProvider::onDevice);
        logLine(QStringLiteral("🎯 [STT] Using on-device recognition for ") + language.displayName());
    } else {
        setActiveProvider(STTProvider::server);
        logLine(QStringLiteral("🎯 [STT] Using the server for %1 (on-device recognition not available)")
                    .arg(language.displayName()));
    }
}

QCoro::Task<> SpeechRecognitionManager::startListening(quint64 recording)
{
    QPointer<SpeechRecognitionManager> self(this);
    while (m_stopping) {
        co_await qCoro(this, &SpeechRecognitionManager::stopSettled);
        if (!self)
            co_return;
    }
    if (m_isListening)
        co_return;
    if (recording != m_recording) {
        m_recording = recording;
        m_nextUtterance = 0;
    }
    if (!m_hasPermission) {
        const bool granted = co_await requestPermission();
        if (!self || !granted)
            co_return;
    }
    setTranscribedText(QStringLiteral(""));
    setErrorMessage(QString());
    ++m_session;
    selectProvider();
    logLine(QStringLiteral("🎙️ [STT] Starting with %1 %2")
                .arg(mark(m_activeProvider), rawValue(m_activeProvider)));
    if (m_activeProvider == STTProvider::onDevice)
        co_await startOnDeviceRecognition();
    else
        co_await startServerRecognition();
}

QCoro::Task<> SpeechRecognitionManager::startOnDeviceRecognition()
{
    m_utteranceBase = m_nextUtterance;
    const SupportedLanguage language = m_selectedLanguage;
    if (!m_isOnDeviceAvailable) {
        logLine(QStringLiteral(
            "⚠️ [On-device STT] Not available (permission denied or disabled), falling back..."));
        setActiveProvider(STTProvider::server);
        co_await startServerRecognition();
        co_return;
    }

    std::unique_ptr<SpeechRecognizer> created;
    SpeechRecognizer *recognizer = m_speechRecognizer.get();
    if (!recognizer) {
        created = m_recognizers.makeRecognizer(language.rawValue());
        recognizer = created.get();
    }
    if (!recognizer || !recognizer->isAvailable()) {
        logLine(QStringLiteral("❌ [On-device STT] Recognizer not available for %1, falling back...")
                    .arg(language.displayName()));
        setActiveProvider(STTProvider::server);
        co_await startServerRecognition();
        co_return;
    }
    if (created)
        m_speechRecognizer = std::move(created);
    m_speechRecognizer->setDefaultTaskHint(SpeechRecognitionTaskHint::dictation);

    if (const std::optional<SpeechRecognitionError> error = startOnDeviceSession()) {
        logLine(
            QStringLiteral("❌ [On-device STT] Error: %1, falling back...").arg(error->localizedDescription));
        // Whatever the set-up got to (a tap, a task) goes before the cloud
        // path takes over, so the next on-device start finds nothing left.
        stopOnDeviceRecognition();
        setActiveProvider(STTProvider::server);
        co_await startServerRecognition();
        co_return;
    }
    setIsListening(true);
    logLine(QStringLiteral("✅ [On-device STT] Started listening"));
}

std::optional<SpeechRecognitionError> SpeechRecognitionManager::startOnDeviceSession()
{
    if (m_recognitionTask) {
        m_recognitionTask->cancel();
        m_recognitionTask.reset();
    }

    m_recognitionRequest = m_recognizers.makeRequest();
    m_tapTarget->set(m_recognitionRequest);
    if (!m_recognitionRequest)
        return SpeechRecognitionError { managerErrorDomain, 1,
            QStringLiteral("Unable to create recognition request") };
    m_recognitionRequest->setShouldReportPartialResults(true);
    m_recognitionRequest->setRequiresOnDeviceRecognition(
        m_speechRecognizer ? m_speechRecognizer->supportsOnDeviceRecognition() : false);
    if (m_recognitionRequest->requiresOnDeviceRecognition())
        logLine(QStringLiteral("✅ [On-device STT] Using on-device recognition"));

    if (m_speechRecognizer) {
        QPointer<SpeechRecognitionManager> self(this);
        const quint64 session = m_session;
        m_recognitionTask = m_speechRecognizer->recognitionTask(m_recognitionRequest,
            [self, session](
                std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error) {
                onMainThread(self, [session, result, error](SpeechRecognitionManager *manager) {
                    manager->handleRecognition(session, result, error);
                });
            });
    }

    m_audioEngine = m_audioEngineFactory ? m_audioEngineFactory() : nullptr;
    if (!m_audioEngine)
        return SpeechRecognitionError { audioEngineErrorDomain, 1,
            QStringLiteral("Failed to initialize audio engine") };
    if (!m_audioEngine->hasInputNode())
        return SpeechRecognitionError { audioEngineErrorDomain, 2,
            QStringLiteral("Audio input not available") };
    m_audioEngine->installTap(tapBufferFrames, [target = m_tapTarget](const AudioBuffer &buffer) {
        if (const std::shared_ptr<SpeechRecognitionRequest> request = target->get())
            request->append(buffer);
    });
    {
        QPointer<SpeechRecognitionManager> self(this);
        m_audioEngine->setInterruptionHandler(
            [self, session = m_session](AudioEngine::Interruption what, const QString &reason) {
                onMainThread(self, [session, what, reason](SpeechRecognitionManager *manager) {
                    manager->handleCaptureInterruption(session, what, reason);
                });
            });
    }
    if (const std::optional<QString> startError = m_audioEngine->start())
        return SpeechRecognitionError { audioEngineErrorDomain, 3, *startError };
    return std::nullopt;
}

void SpeechRecognitionManager::handleRecognition(quint64 session,
    std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error)
{
    // A report of an earlier session (its last words, its cancellation) must
    // neither overwrite the new session's text nor end it.
    if (session != m_session)
        return;

    if (result) {
        setTranscribedText(result->formattedString);
        logDictated(lcSpeech(),
            QStringLiteral("📝 [On-device STT] %1: %2")
                .arg(result->isFinal ? QStringLiteral("Final") : QStringLiteral("..."), m_transcribedText));
        publish(m_utteranceBase + quint64(std::max(0, result->utterance)), result->utteranceText,
            result->isFinal);
    }
    if (!error)
        return;

    const QString description = error->localizedDescription;
    if (error->domain != SpeechRecognitionErrors::assistantDomain) {
        logLine(QStringLiteral("❌ [On-device STT] Error: ") + description);
        setErrorMessage(description);
        return;
    }
    switch (error->code) {
    case SpeechRecognitionErrors::canceled:
    case SpeechRecognitionErrors::canceledByClient:
        logLine(QStringLiteral("ℹ️ [On-device STT] Canceled (code: %1)").arg(error->code));
        break;
    case SpeechRecognitionErrors::recognitionFailed:
        logLine(QStringLiteral("❌ [On-device STT] Recognition failed (code: 1107), falling back..."));
        // Only a running on-device session falls back; one the user already
        // stopped must not reopen the microphone.
        if (m_isListening && m_activeProvider == STTProvider::onDevice)
            fallBackAfterRecognitionFailure();
        break;
    case SpeechRecognitionErrors::noSpeechDetected:
        logLine(QStringLiteral("ℹ️ [On-device STT] No speech detected yet - waiting..."));
        break;
    default:
        logLine(QStringLiteral("❌ [On-device STT] Error: %1 (code: %2)").arg(description).arg(error->code));
        setErrorMessage(description);
        break;
    }
}

// The microphone went away under a running session: the user hears of it at
// once, and when it stays away the session ends as a stop would, so that what
// was said before is still recognized and typed.
void SpeechRecognitionManager::handleCaptureInterruption(
    quint64 session, AudioEngine::Interruption what, const QString &reason)
{
    if (session != m_session || !m_isListening)
        return;
    switch (what) {
    case AudioEngine::Interruption::lost:
        setErrorMessage(reason);
        break;
    case AudioEngine::Interruption::resumed:
        logLine(QStringLiteral("✅ [STT] The microphone is back, listening on"));
        break;
    case AudioEngine::Interruption::ended:
        logLine(QStringLiteral("⏹️ [STT] The microphone is gone, stopping"));
        stopSession();
        break;
    }
}

QCoro::Task<> SpeechRecognitionManager::fallBackAfterRecognitionFailure()
{
    stopOnDeviceRecognition();
    setIsListening(false);
    setActiveProvider(STTProvider::server);
    co_await startServerRecognition();
}

QCoro::Task<> SpeechRecognitionManager::startServerRecognition()
{
    m_utteranceBase = m_nextUtterance;
    const QString code = m_selectedLanguage.rawValue();
    logLine(QStringLiteral("☁️ [Server STT] Starting cloud fallback for language: ") + code);
    m_serverSpeechService->setLanguage(code);

    QPointer<SpeechRecognitionManager> self(this);
    AudioRecordingService::Callback deliver = [self](QByteArray chunk) {
        onMainThread(self, [chunk = std::move(chunk)](SpeechRecognitionManager *manager) {
            manager->m_serverSpeechService->audioBuffer().append(chunk);
        });
    };
    // g++ 12 mishandles temporaries inside a co_await expression (it destroys
    // some twice): the task is made in a statement of its own.
    QCoro::Task<std::optional<AudioError>> capture = m_audioService->startRecording(std::move(deliver));
    const std::optional<AudioError> error = co_await std::move(capture);
    if (!self)
        co_return;
    if (error) {
        setErrorMessage(tr("Failed to start server recognition: ") + error->errorDescription());
        co_return;
    }
    co_await m_serverSpeechService->startStreaming(m_recording);
    if (!self)
        co_return;
    setIsListening(true);
    logLine(QStringLiteral("✅ [Server STT] Started with language: ") + code);
}

void SpeechRecognitionManager::stopOnDeviceRecognition()
{
    // The engine stops first so that the last frames it still holds reach the
    // request before its audio ends.
    if (m_audioEngine) {
        m_audioEngine->stop();
        m_audioEngine->removeTap();
        m_audioEngine.reset();
    }
    if (m_recognitionRequest)
        m_recognitionRequest->endAudio();
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    m_tapTarget->set(nullptr);
    m_recognitionRequest.reset();
    m_recognitionTask.reset();
}

QCoro::Task<> SpeechRecognitionManager::stopListening()
{
    if (m_restart)
        m_restart->cancelled = true;
    co_await stopSession();
}

QCoro::Task<> SpeechRecognitionManager::stopSession()
{
    QPointer<SpeechRecognitionManager> self(this);
    // A language change's restart and the user may stop at the same time:
    // the second stop waits for the first instead of running beside it.
    if (m_stopping) {
        co_await qCoro(this, &SpeechRecognitionManager::stopSettled);
        co_return;
    }
    if (!m_isListening)
        co_return;
    m_stopping = true;
    logLine(QStringLiteral("⏹️ [STT] Stopping ") + rawValue(m_activeProvider));
    if (m_activeProvider == STTProvider::server) {
        co_await m_audioService->stopRecording();
        if (!self)
            co_return;
        co_await m_serverSpeechService->stopStreaming();
        if (!self)
            co_return;
    } else {
        stopOnDeviceRecognition();
    }
    setIsListening(false);
    m_stopping = false;
    emit stopSettled();
}

void SpeechRecognitionManager::togglePreferredProvider()
{
    setPreferredProvider(
        m_preferredProvider == STTProvider::server ? STTProvider::onDevice : STTProvider::server);
    logLine(QStringLiteral("🔄 [STT] Preferred provider toggled to: ") + rawValue(m_preferredProvider));
}

void SpeechRecognitionManager::setTranscribedText(const QString &text)
{
    if (text == m_transcribedText)
        return;
    m_transcribedText = text;
    emit transcribedTextChanged(text);
}

void SpeechRecognitionManager::setIsListening(bool value)
{
    if (value == m_isListening)
        return;
    m_isListening = value;
    emit isListeningChanged(value);
}

void SpeechRecognitionManager::setErrorMessage(const QString &message)
{
    // Each failure is told, even when it repeats the last one's words.
    if (!message.isNull())
        emit recognitionError(RecognitionError { m_recording, message });
    if (message == m_errorMessage && message.isNull() == m_errorMessage.isNull())
        return;
    m_errorMessage = message;
    emit errorMessageChanged(message);
}

void SpeechRecognitionManager::setSelectedLanguage(SupportedLanguage language)
{
    if (language == m_selectedLanguage)
        return;
    m_selectedLanguage = language;
    emit selectedLanguageChanged(language);
}

void SpeechRecognitionManager::setActiveProvider(STTProvider provider)
{
    if (provider == m_activeProvider)
        return;
    m_activeProvider = provider;
    emit activeProviderChanged(provider);
}

void SpeechRecognitionManager::setPreferredProvider(STTProvider provider)
{
    if (provider == m_preferredProvider)
        return;
    m_preferredProvider = provider;
    emit preferredProviderChanged(provider);
}

void SpeechRecognitionManager::setIsOnDeviceAvailable(bool value)
{
    if (value == m_isOnDeviceAvailable)
        return;
    m_isOnDeviceAvailable = value;
    emit isOnDeviceAvailableChanged(value);
}
