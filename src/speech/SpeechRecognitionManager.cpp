#include "speech/SpeechRecognitionManager.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Observe.h"
#include "common/Settings.h"
#include "speech/AudioRecordingService.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <mutex>

namespace
{

QString mark(const SpeechEngine &engine)
{
    return engine.remote ? QStringLiteral("☁️") : QStringLiteral("💻");
}

} // namespace

// What the capture feeds: swapped on the main thread while the capture
// service reads it on its own thread.
struct SpeechRecognitionManager::Feed {
    std::mutex mutex;
    std::shared_ptr<EngineSession> target;

    void set(std::shared_ptr<EngineSession> value)
    {
        std::lock_guard lock(mutex);
        target = std::move(value);
    }
    std::shared_ptr<EngineSession> get()
    {
        std::lock_guard lock(mutex);
        return target;
    }
};

// A stop and a start on behalf of a language change, run one after the other.
struct SpeechRecognitionManager::Restart {
    bool starting = false; // past the stop: the start reads the language now
    bool again = false; // the language changed again while starting
    bool cancelled = false; // the user stopped listening meanwhile
};

SpeechRecognitionManager::SpeechRecognitionManager(EngineRegistry &engines,
    MicrophoneAuthorization &microphone, std::unique_ptr<AudioRecordingService> audioService, QObject *parent)
    : DictationRecognizer(parent)
    , m_engines(engines)
    , m_microphone(microphone)
    , m_feed(std::make_shared<Feed>())
    , m_audioService(std::move(audioService))
{
    // The user's choice of engine outlives the program: the panel's button
    // is pressed once, not at every start.
    m_preferred
        = std::max(0, m_engines.indexOf(Settings::stringValue(preferredProviderKey).value_or(QString())));
    m_active = m_preferred;
    selectEngine();
    qCInfo(lcApp).noquote() << QStringLiteral("🎯 [STT] Active provider: ") + activeEngine();
    connect(m_audioService.get(), &AudioRecordingService::captureInterrupted, this,
        &SpeechRecognitionManager::handleCaptureInterruption);
}

SpeechRecognitionManager::~SpeechRecognitionManager()
{
    // The capture thread is quiet before the recognizers it feeds go.
    m_audioService.reset();
    m_feed->set(nullptr);
    m_recognizer.reset();
}

QCoro::Task<bool> SpeechRecognitionManager::requestPermission()
{
    QPointer<SpeechRecognitionManager> self(this);
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
    qCInfo(lcApp).noquote() << QStringLiteral("🌐 [STT] Language set to: %1 (%2)")
                                   .arg(language.displayName(), language.rawValue());

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

// The session stays the same across the restart, so its dictation hears the
// new language's words where it heard the old one's. The new recognizer
// starts once the old one said its last words: their utterances must not
// overlap.
QCoro::Task<> SpeechRecognitionManager::restartInNewLanguage(std::shared_ptr<Restart> restart)
{
    QPointer<SpeechRecognitionManager> self(this);
    do {
        restart->again = false;
        restart->starting = false;
        const std::shared_ptr<RecognitionSession> session = m_session;
        if (!session || restart->cancelled)
            break;
        co_await closeCapture();
        if (!self)
            co_return;
        co_await finishEngine(session);
        if (!self)
            co_return;
        if (restart->cancelled)
            break;
        restart->starting = true;
        m_session = session;
        selectEngine();
        co_await startRecognition();
        if (!self)
            co_return;
        if (!m_isListening && m_session == session)
            m_session.reset();
    } while (restart->again && !restart->cancelled);
    if (m_restart == restart)
        m_restart.reset();
    emit restartSettled();
}

int SpeechRecognitionManager::engineFor(int from) const
{
    const SupportedLanguage language = m_selectedLanguage;
    for (int index = std::max(0, from); index < int(m_engines.engines().size()); ++index) {
        const SpeechEngine &candidate = engine(index);
        // Such a language has no model on this machine whatever may be installed.
        if (language.isCloudOnly() && !candidate.remote)
            continue;
        if (candidate.available(language.rawValue()))
            return index;
    }
    return -1;
}

void SpeechRecognitionManager::selectEngine()
{
    const SupportedLanguage language = m_selectedLanguage;
    const int chosen = engineFor(m_preferred);
    // Nothing serves the language: the last engine is asked anyway, and says why it cannot.
    setActive(chosen >= 0 ? chosen : int(m_engines.engines().size()) - 1);
    if (m_active == m_preferred)
        qCInfo(lcApp).noquote()
            << QStringLiteral("🎯 [STT] Using %1 for %2").arg(activeEngine(), language.displayName());
    else
        qCInfo(lcApp).noquote() << QStringLiteral("🎯 [STT] Using %1 for %2 (%3 not available)")
                                       .arg(activeEngine(), language.displayName(), preferredEngine());
}

QCoro::Task<std::shared_ptr<RecognitionSession>> SpeechRecognitionManager::startListening(quint64 recording)
{
    QPointer<SpeechRecognitionManager> self(this);
    // Only the last capture's closing is waited for, never its last results.
    while (m_stopping || m_restart) {
        if (m_restart)
            co_await nextSignal(this, &SpeechRecognitionManager::restartSettled);
        else
            co_await nextSignal(this, &SpeechRecognitionManager::stopSettled);
        if (!self)
            co_return std::shared_ptr<RecognitionSession>();
    }
    if (m_isListening)
        co_return std::shared_ptr<RecognitionSession>();
    if (!m_hasPermission) {
        const bool granted = co_await requestPermission();
        if (!self || !granted)
            co_return std::shared_ptr<RecognitionSession>();
    }
    setTranscribedText(QStringLiteral(""));
    setErrorMessage(QString());
    selectEngine();
    qCInfo(lcApp).noquote()
        << QStringLiteral("🎙️ [STT] Starting with %1 %2").arg(mark(engine(m_active)), activeEngine());
    m_session = std::make_shared<RecognitionSession>(recording);
    m_shownSession = m_session;
    const std::shared_ptr<RecognitionSession> session = m_session;
    co_await startRecognition();
    if (!self)
        co_return std::shared_ptr<RecognitionSession>();
    if (!m_isListening) {
        if (m_session == session)
            m_session.reset();
        co_return std::shared_ptr<RecognitionSession>();
    }
    co_return session;
}

std::shared_ptr<EngineSession> SpeechRecognitionManager::makeSession()
{
    return engine(m_active).create(m_selectedLanguage.rawValue());
}

void SpeechRecognitionManager::attach(std::shared_ptr<EngineSession> recognizer)
{
    // A recognizer replaced within its session (a fall-back, a restart) is
    // done; one of an earlier session may still be saying its last words to
    // that session.
    if (m_recognizer && m_session && m_session->engine == m_recognizer)
        m_recognizer->disconnect(this);
    EngineSession *current = recognizer.get();
    // The session is held weakly: a recognizer still finishing must not keep
    // a closed session's dictation alive.
    const std::weak_ptr<RecognitionSession> session = m_session;
    connect(current, &EngineSession::transcript, this, [this, session](const TranscriptEvent &event) {
        if (const std::shared_ptr<RecognitionSession> target = session.lock())
            handleTranscript(*target, event);
    });
    connect(current, &EngineSession::error, this, [this, session, current](const EngineError &error) {
        const std::shared_ptr<RecognitionSession> target = session.lock();
        if (!target)
            return;
        switch (error.kind) {
        case EngineErrorKind::noSpeech:
            break;
        case EngineErrorKind::passing:
            if (target == m_session)
                setErrorMessage(error.message);
            else
                target->fail(error.message);
            break;
        case EngineErrorKind::unavailable:
        case EngineErrorKind::failed:
            fallBack(current, error);
            break;
        }
    });
    // The text shown stays until the new recognizer has something to say.
    m_utterances.clear();
    m_recognizer = recognizer;
    if (m_session)
        m_session->engine = recognizer;
    m_feed->set(std::move(recognizer));
}

// One path for every engine: the capture runs first (an engine needs nothing
// from a microphone that cannot open), then the engine starts on the audio
// already flowing. An engine that cannot start hands over to the next one.
QCoro::Task<> SpeechRecognitionManager::startRecognition()
{
    QPointer<SpeechRecognitionManager> self(this);
    std::shared_ptr<EngineSession> recognizer = makeSession();
    attach(recognizer);

    AudioRecordingService::Callback deliver = [feed = m_feed](QByteArray chunk) {
        if (const std::shared_ptr<EngineSession> target = feed->get())
            target->feed(chunk);
    };
    // g++ 12 mishandles temporaries inside a co_await expression (it destroys
    // some twice): each task is made in a statement of its own.
    QCoro::Task<std::optional<AudioError>> capture = m_audioService->startRecording(std::move(deliver));
    const std::optional<AudioError> captureError = co_await std::move(capture);
    if (!self)
        co_return;
    if (captureError) {
        m_feed->set(nullptr);
        QCoro::Task<> finishing = recognizer->finish();
        co_await std::move(finishing);
        if (!self)
            co_return;
        // Another engine would need the same microphone: there is nothing to fall back to.
        setErrorMessage(isActiveEngineRemote()
                ? tr("Failed to start server recognition: ") + captureError->errorDescription()
                : captureError->errorDescription());
        co_return;
    }

    const quint64 recording = m_session ? m_session->recording() : 0;
    const quint64 firstUtterance = m_session ? m_session->nextUtterance() : 0;
    for (;;) {
        QCoro::Task<std::optional<EngineError>> starting = recognizer->start(recording, firstUtterance);
        const std::optional<EngineError> startError = co_await std::move(starting);
        if (!self)
            co_return;
        if (!startError)
            break;
        const int next = engineFor(m_active + 1);
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [%1 STT] Error: %2%3")
                                          .arg(activeEngine(), startError->message,
                                              next >= 0 ? QStringLiteral(", falling back...") : QString());
        QCoro::Task<> finishing = recognizer->finish();
        co_await std::move(finishing);
        if (!self)
            co_return;
        if (next < 0) {
            m_feed->set(nullptr);
            QCoro::Task<> closing = m_audioService->stopRecording();
            co_await std::move(closing);
            if (!self)
                co_return;
            setErrorMessage(startError->message);
            co_return;
        }
        setActive(next);
        recognizer = makeSession();
        attach(recognizer);
    }
    setIsListening(true);
    if (!isActiveEngineRemote())
        qCInfo(lcApp).noquote() << QStringLiteral("✅ [On-device STT] Started listening");
}

void SpeechRecognitionManager::handleTranscript(RecognitionSession &session, const TranscriptEvent &event)
{
    // The text shown is the newest session's, its last words included.
    if (&session == m_shownSession.lock().get()) {
        m_utterances[event.utterance] = event.text;
        QStringList heard;
        for (const QString &text : std::as_const(m_utterances)) {
            if (!text.isEmpty())
                heard << text;
        }
        setTranscribedText(heard.join(u' '));
    }
    session.deliver(event);
}

// The microphone went away under a running session: the user hears of it at
// once, and when it stays away the session ends as a stop would, so that what
// was said before is still recognized and typed.
void SpeechRecognitionManager::handleCaptureInterruption(
    AudioEngine::Interruption what, const QString &reason)
{
    if (!m_isListening)
        return;
    switch (what) {
    case AudioEngine::Interruption::lost:
        setErrorMessage(reason);
        break;
    case AudioEngine::Interruption::resumed:
        qCInfo(lcApp).noquote() << QStringLiteral("✅ [STT] The microphone is back, listening on");
        break;
    case AudioEngine::Interruption::ended:
        qCInfo(lcApp).noquote() << QStringLiteral("⏹️ [STT] The microphone is gone, stopping");
        if (const std::shared_ptr<RecognitionSession> session = m_session) {
            if (m_restart)
                m_restart->cancelled = true;
            closeCapture();
            // Its dictation stops as if asked to, and collects the last words.
            session->endByItself();
        }
        break;
    }
}

// The next engine takes the running capture over from a failed one.
QCoro::Task<> SpeechRecognitionManager::fallBack(EngineSession *failed, EngineError error)
{
    // Only a running session falls back; one the user already stopped must
    // not reopen the microphone.
    if (failed != m_recognizer.get() || !m_isListening || m_stopping)
        co_return;
    const int next = engineFor(m_active + 1);
    if (next < 0) {
        setErrorMessage(error.message);
        co_return;
    }
    QPointer<SpeechRecognitionManager> self(this);
    const std::shared_ptr<EngineSession> previous = m_recognizer;
    setActive(next);
    attach(makeSession());
    const std::shared_ptr<EngineSession> replacement = m_recognizer;
    QCoro::Task<> finishing = previous->finish();
    co_await std::move(finishing);
    if (!self)
        co_return;
    const std::shared_ptr<RecognitionSession> session = m_session;
    QCoro::Task<std::optional<EngineError>> starting
        = replacement->start(session ? session->recording() : 0, session ? session->nextUtterance() : 0);
    const std::optional<EngineError> startError = co_await std::move(starting);
    if (self && startError)
        setErrorMessage(startError->message);
}

QCoro::Task<> SpeechRecognitionManager::stopListening(std::shared_ptr<RecognitionSession> session)
{
    QPointer<SpeechRecognitionManager> self(this);
    if (!session)
        co_return;
    if (session == m_session) {
        if (m_restart) {
            m_restart->cancelled = true;
            co_await nextSignal(this, &SpeechRecognitionManager::restartSettled);
            if (!self)
                co_return;
        }
        if (session == m_session) {
            co_await closeCapture();
            if (!self)
                co_return;
        }
    }
    co_await finishEngine(std::move(session));
}

QCoro::Task<> SpeechRecognitionManager::closeCapture()
{
    QPointer<SpeechRecognitionManager> self(this);
    // Two closings at once (the microphone going away as the user stops):
    // the second waits for the first instead of running beside it.
    if (m_stopping) {
        co_await nextSignal(this, &SpeechRecognitionManager::stopSettled);
        co_return;
    }
    if (!m_isListening) {
        m_session.reset();
        co_return;
    }
    m_stopping = true;
    qCInfo(lcApp).noquote() << QStringLiteral("⏹️ [STT] Stopping ") + activeEngine();
    // The capture stops first: the samples it still holds reach the
    // recognizer before the recognizer hears that no audio follows.
    QCoro::Task<> capture = m_audioService->stopRecording();
    co_await std::move(capture);
    if (!self)
        co_return;
    m_feed->set(nullptr);
    m_session.reset();
    setIsListening(false);
    m_stopping = false;
    emit stopSettled();
}

QCoro::Task<> SpeechRecognitionManager::finishEngine(std::shared_ptr<RecognitionSession> session)
{
    if (const std::shared_ptr<EngineSession> running = session->engine) {
        QCoro::Task<> finishing = running->finish();
        co_await std::move(finishing);
    }
}

void SpeechRecognitionManager::togglePreferredProvider()
{
    setPreferred((m_preferred + 1) % int(m_engines.engines().size()));
    Settings::setString(preferredProviderKey, preferredEngine());
    qCInfo(lcApp).noquote() << QStringLiteral("🔄 [STT] Preferred provider toggled to: ") + preferredEngine();
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
    if (!message.isNull() && m_session)
        m_session->fail(message);
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

void SpeechRecognitionManager::setActive(int index)
{
    if (index == m_active)
        return;
    m_active = index;
    emit activeEngineChanged(activeEngine());
}

void SpeechRecognitionManager::setPreferred(int index)
{
    if (index == m_preferred)
        return;
    m_preferred = index;
    emit preferredEngineChanged(preferredEngine());
}
