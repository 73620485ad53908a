#include "app/AppState.h"

#include "common/Log.h"
#include "common/Observe.h"
#include "output/CursorIndicatorService.h"
#include "speech/TextFormatter.h"
#include "speech/TextFormattingSettings.h"

#include <QPointer>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

namespace {

// Number of user-perceived characters (grapheme clusters) in `text`.
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

// `text` without its first `count` user-perceived characters.
QString dropCharacters(const QString &text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype i = 0; i < count; ++i) {
        position = finder.toNextBoundary();
        if (position == -1)
            return {};
    }
    return text.mid(position);
}

// One turn of the event loop: deliveries queued before it have run when it ends.
QCoro::Task<> nextTurn()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(0);
    co_await timer;
}

} // namespace

AppState::AppState(DictationRecognizer *recognizer, CursorIndicatorService *cursorIndicator,
                   DictationTyping *typing, QObject *parent)
    : QObject(parent),
      m_recognizer(recognizer ? *recognizer : DictationRecognizer::sharedRecognizer()),
      m_cursorIndicator(cursorIndicator ? *cursorIndicator : CursorIndicatorService::shared()),
      m_typing(typing ? *typing : DictationTyping::sharedTyping())
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
    // 1. The transcript. Each value is stamped with the recording it was
    // published in when the recognizer publishes it, and handled a turn later;
    // one published before the next start emptied the holders is dropped then.
    auto deliverTranscript = [this](const QString &text, quint64 generation) {
        QPointer<AppState> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, text, generation] {
                if (!self || generation != self->m_transcriptGeneration || text.isEmpty())
                    return;
                self->setTranscribedText(text);
                self->handleNewText(text);
            },
            Qt::QueuedConnection);
    };
    deliverTranscript(m_recognizer.transcribedText(), m_transcriptGeneration);
    connect(&m_recognizer, &DictationRecognizer::transcribedTextChanged, this,
            [this, deliverTranscript](const QString &text) {
                deliverTranscript(text, m_transcriptGeneration);
            },
            Qt::DirectConnection);

    // 2. The error text, mirrored, absent values included.
    observe(&m_recognizer, &DictationRecognizer::errorMessage,
            &DictationRecognizer::errorMessageChanged, this, [this](const QString &message) {
                if (!message.isNull())
                    logLine(QStringLiteral("❌ STT error: ") + message);
                setErrorMessage(message);
            });

    // 3. Listening.
    observe(&m_recognizer, &DictationRecognizer::isListening,
            &DictationRecognizer::isListeningChanged, this,
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
    if (!m_isRecording && m_startsInFlight == 0 && m_stopsInFlight == 0
        && m_recognizer.isListening()) {
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

void AppState::handleNewText(const QString &recognized)
{
    // Always the whole transcript: when a later word turns an earlier one into
    // a command ("new" becoming "new line"), the text formats differently
    // before that word, and the diff corrects it like any other revision.
    const QString text =
        TextFormatter::format(recognized, {m_language.rawValue(), TextFormattingSettings::options()});
    // Characters compare by canonical equivalence.
    const QString current = text.normalized(QString::NormalizationForm_C);
    const QString previous = m_lastInsertedText.normalized(QString::NormalizationForm_C);
    const QString newPart = current.startsWith(previous)
        ? dropCharacters(current, characterCount(previous))
        : current;
    if (newPart.isEmpty())
        return;
    logLine(QStringLiteral("📝 New text to insert: '") + newPart + QLatin1Char('\''));
    m_lastInsertedText = text;

    ++m_insertionsInFlight;
    QPointer<AppState> self(this);
    [](QPointer<AppState> self, DictationTyping &typing, QString text) -> QCoro::Task<> {
        co_await typing.insertText(std::move(text));
        if (self) {
            --self->m_insertionsInFlight;
            self->workFinished();
        }
    }(self, m_typing, text);
}

void AppState::workFinished()
{
    if (!hasWorkInFlight())
        emit previousRecordingSettled();
}

bool AppState::checkAccessibilityPermission()
{
    const bool trusted = m_typing.isAccessibilityTrusted();
    setNeedsAccessibilityPermission(!trusted);
    logLine(QStringLiteral("🔐 Accessibility permission: ")
            + (trusted ? QStringLiteral("true") : QStringLiteral("false")));
    return trusted;
}

QCoro::Task<> AppState::settlePreviousRecording()
{
    QPointer<AppState> self(this);
    // The previous recording's stop may still deliver its last transcript, and
    // its typing may still be running; both belong before the holders are
    // emptied, or the old text would be typed into the new recording (or its
    // end would overwrite the emptied typing state).
    while (self && self->hasWorkInFlight()) {
        co_await qCoro(self.data(), &AppState::previousRecordingSettled);
        if (!self)
            co_return;
        // Two hops bring a transcript here (cloud client, recognizer, us).
        co_await nextTurn();
        co_await nextTurn();
    }
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
    co_await settlePreviousRecording();
    if (!self)
        co_return;

    ++m_transcriptGeneration;
    setTranscribedText(QString());
    m_lastInsertedText.clear();
    m_recognizer.clearTranscripts();
    m_typing.resetForNewRecording();

    co_await m_recognizer.startListening();
    if (!self)
        co_return;
    --m_startsInFlight;

    if (m_recognizer.isListening()) {
        setIsRecording(true);
        const bool cloud = m_recognizer.activeProvider() == STTProvider::google;
        logLine(QStringLiteral("✅ Recording started with ")
                + (cloud ? QStringLiteral("☁️") : QStringLiteral("🍎")) + QLatin1Char(' ')
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

    ++m_stopsInFlight;
    // Mid-restart the recognizer is about to listen again; stopping now would
    // miss the session it is starting, so let the restart land first.
    if (m_restartGrace.isActive()) {
        co_await qCoro(this, &AppState::restartSettled);
        if (!self)
            co_return;
    }
    co_await m_recognizer.stopListening();
    if (!self)
        co_return;
    --m_stopsInFlight;
    logLine(QStringLiteral("✅ Recording stopped"));
    workFinished();
}

void AppState::setLanguage(SupportedLanguage language)
{
    if (m_isRecording)
        m_cursorIndicator.hide();
    m_language = language;
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

void AppState::setNeedsAccessibilityPermission(bool value)
{
    if (m_needsAccessibilityPermission == value)
        return;
    m_needsAccessibilityPermission = value;
    emit needsAccessibilityPermissionChanged(value);
}
