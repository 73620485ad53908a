#include "app/AppState.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Observe.h"
#include "output/CursorIndicatorService.h"
#include "speech/TextFormatter.h"
#include "speech/TextFormattingSettings.h"

#include <QPointer>
#include <QTimer>

#include <qcoro/qcorotimer.h>

AppState::AppState(DictationRecognizer &recognizer, CursorIndicatorService &cursorIndicator,
    DictationTyping &typing, QObject *parent)
    : QObject(parent)
    , m_recognizer(recognizer)
    , m_cursorIndicator(cursorIndicator)
    , m_typing(typing)
{
    m_restartGrace.setSingleShot(true);
    m_restartGrace.setInterval(defaultRestartGrace);
    connect(&m_restartGrace, &QTimer::timeout, this, &AppState::onRestartGraceExpired);
    logLine(QStringLiteral("📱 AppState initialized"));
    setupBindings();
}

AppState::~AppState() = default;

void AppState::setupBindings()
{
    // 1. Transcripts, each stamped with its recording by the recognizer.
    connect(&m_recognizer, &DictationRecognizer::transcript, this,
        [this](const TranscriptEvent &event) { handleTranscript(event); });

    // 2. Each failure of this recording, and the error text, mirrored,
    // absent values included.
    connect(
        &m_recognizer, &DictationRecognizer::recognitionError, this, [this](const RecognitionError &error) {
            if (error.recording == m_recording)
                emit errorReported(error.message);
        });
    observe(&m_recognizer, &DictationRecognizer::errorMessage, &DictationRecognizer::errorMessageChanged,
        this, [this](const QString &message) {
            if (!message.isNull())
                logLine(QStringLiteral("❌ STT error: ") + message);
            setErrorMessage(message);
        });

    // 3. Listening.
    observe(&m_recognizer, &DictationRecognizer::isListening, &DictationRecognizer::isListeningChanged, this,
        [this](bool listening) { onListeningChanged(listening); });
}

void AppState::onListeningChanged(bool listening)
{
    if (!listening) {
        // The recognizer restarts itself by stopping and starting again; keep
        // recording through the gap and decide when it stays silent.
        if (m_isRecording && !m_restartGrace.isActive())
            m_restartGrace.start();
        return;
    }
    if (m_restartGrace.isActive()) {
        m_restartGrace.stop();
        emit restartSettled();
        return;
    }
    // A restart that outlasted the grace, or any session the recognizer runs
    // on its own: the microphone is live, so the controller says so.
    if (!m_isRecording && m_startsInFlight == 0 && !m_stopping && m_recognizer.isListening()) {
        setIsRecording(true);
        m_cursorIndicator.show();
    }
}

void AppState::onRestartGraceExpired()
{
    if (m_isRecording && !m_recognizer.isListening()) {
        // The recognizer stopped by itself: nothing records, so no badge either.
        setIsRecording(false);
        m_cursorIndicator.hide();
    }
    emit restartSettled();
}

QCoro::Task<> AppState::handleTranscript(TranscriptEvent event)
{
    if (event.recording != m_recording) {
        logLine(QStringLiteral("🗑️ Dropped a transcript of recording %1 during recording %2")
                    .arg(event.recording)
                    .arg(m_recording));
        co_return;
    }
    // Each utterance is formatted whole: when a later word turns an earlier
    // one into a command ("new" becoming "new line"), the text formats
    // differently before that word, and typing corrects it like any other
    // revision. A later utterance follows a separator that ends the sentence.
    event.text = TextFormatter::format(event.text,
        { m_recognizer.language().rawValue(), TextFormattingSettings::options(), event.utterance == 0,
            event.utterance != 0 });
    if (event.text.isEmpty() && m_transcribedText.isEmpty())
        co_return;
    setTranscribedText(event.text);
    logDictated(lcApp(), QStringLiteral("📝 New text to insert: '") + event.text + QLatin1Char('\''));

    QPointer<AppState> self(this);
    ++m_insertionsInFlight;
    co_await m_typing.insertTranscript(std::move(event));
    if (!self)
        co_return;
    --m_insertionsInFlight;
    emit typingSettled();
}

bool AppState::checkAccessibilityPermission()
{
    const bool trusted = m_typing.isAccessibilityTrusted();
    setNeedsAccessibilityPermission(!trusted);
    logLine(QStringLiteral("🔐 Accessibility permission: ")
        + (trusted ? QStringLiteral("true") : QStringLiteral("false")));
    return trusted;
}

QCoro::Task<> AppState::startRecording()
{
    QPointer<AppState> self(this);
    logLine(QStringLiteral("🎙️ startRecording() called"));
    if (!checkAccessibilityPermission()) {
        logLine(QStringLiteral("❌ No accessibility permission"));
        logLine(QStringLiteral("🔐 Prompting for accessibility permission..."));
        co_await m_typing.showEnableAccessibilityAlert();
        co_return;
    }

    ++m_startsInFlight;
    // The last recording's results are still being collected and typed: they
    // belong before anything of the new one.
    while (m_stopping) {
        co_await nextSignal(this, &AppState::stopSettled);
        if (!self)
            co_return;
    }
    ++m_recording;
    emit recordingStarting();
    setTranscribedText(QString());
    m_typing.beginRecording(m_recording);

    co_await m_recognizer.startListening(m_recording);
    if (!self)
        co_return;
    --m_startsInFlight;

    if (m_recognizer.isListening()) {
        setIsRecording(true);
        const bool cloud = m_recognizer.activeProvider() == STTProvider::server;
        logLine(QStringLiteral("✅ Recording started with ")
            + (cloud ? QStringLiteral("☁️") : QStringLiteral("💻")) + QLatin1Char(' ')
            + rawValue(m_recognizer.activeProvider()));
        m_cursorIndicator.show();
    }
}

QCoro::Task<> AppState::stopRecording()
{
    QPointer<AppState> self(this);
    logLine(QStringLiteral("⏹️ stopRecording() called"));
    setIsRecording(false);
    m_cursorIndicator.hide();
    if (m_stopping) {
        co_await nextSignal(this, &AppState::stopSettled);
        co_return;
    }
    m_stopping = true;
    setIsFinishing(true);

    // Mid-restart the recognizer is about to listen again; stopping now would
    // miss the session it is starting, so let the restart land first.
    if (m_restartGrace.isActive()) {
        co_await nextSignal(this, &AppState::restartSettled);
        if (!self)
            co_return;
    }
    co_await m_recognizer.stopListening();
    if (!self)
        co_return;
    while (m_insertionsInFlight > 0) {
        co_await nextSignal(this, &AppState::typingSettled);
        if (!self)
            co_return;
    }
    m_stopping = false;
    setIsFinishing(false);
    logLine(QStringLiteral("✅ Recording stopped"));
    emit stopSettled();
}

void AppState::setLanguage(SupportedLanguage language)
{
    if (m_isRecording)
        m_cursorIndicator.hide();
    m_recognizer.setLanguage(language);
    if (m_isRecording)
        m_cursorIndicator.show();
}

void AppState::toggleFromPanel()
{
    logLine(QStringLiteral("🎤 Button tapped - isRecording: ")
        + (m_isRecording ? QStringLiteral("true") : QStringLiteral("false")));
    if (!m_isRecording) {
        logLine(QStringLiteral("▶️ Starting recording..."));
        startRecording();
    } else {
        logLine(QStringLiteral("⏹️ Stopping recording..."));
        stopRecording();
    }
}

void AppState::setLanguageCode(const QString &code)
{
    if (const auto language = SupportedLanguage::fromCode(code))
        setLanguage(*language);
}

void AppState::setIsRecording(bool value)
{
    if (m_isRecording == value)
        return;
    m_isRecording = value;
    emit isRecordingChanged(value);
}

void AppState::setTranscribedText(const QString &value)
{
    if (m_transcribedText == value)
        return;
    m_transcribedText = value;
    emit transcribedTextChanged(value);
}

void AppState::setErrorMessage(const QString &value)
{
    if (m_errorMessage == value && m_errorMessage.isNull() == value.isNull())
        return;
    m_errorMessage = value;
    emit errorMessageChanged(value);
}

void AppState::setIsFinishing(bool value)
{
    if (m_isFinishing == value)
        return;
    m_isFinishing = value;
    emit isFinishingChanged(value);
}

void AppState::setNeedsAccessibilityPermission(bool value)
{
    if (m_needsAccessibilityPermission == value)
        return;
    m_needsAccessibilityPermission = value;
    emit needsAccessibilityPermissionChanged(value);
}
