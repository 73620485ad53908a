#include "app/AppState.h"

#include "app/Dictation.h"
#include "common/Log.h"
#include "common/NextSignal.h"
#include "common/Observe.h"
#include "output/CursorIndicatorService.h"

#include <QPointer>

AppState::AppState(DictationRecognizer &recognizer, CursorIndicatorService &cursorIndicator,
    DictationTyping &typing, QObject *parent)
    : QObject(parent)
    , m_recognizer(recognizer)
    , m_cursorIndicator(cursorIndicator)
    , m_typing(typing)
{
    qCInfo(lcApp).noquote() << QStringLiteral("📱 AppState initialized");
    // The error text, mirrored, absent values included.
    observe(&m_recognizer, &DictationRecognizer::errorMessage, &DictationRecognizer::errorMessageChanged,
        this, [this](const QString &message) {
            if (!message.isNull())
                qCWarning(lcApp).noquote() << QStringLiteral("❌ STT error: ") + message;
            setErrorMessage(message);
        });
}

AppState::~AppState()
{
    // Their coroutines hold no reference to us once they are gone.
    delete m_current.data();
    for (const QPointer<Dictation> &dictation : std::as_const(m_finishing))
        delete dictation.data();
}

bool AppState::checkAccessibilityPermission()
{
    const bool trusted = m_typing.isAccessibilityTrusted();
    setNeedsAccessibilityPermission(!trusted);
    qCInfo(lcApp).noquote() << QStringLiteral("🔐 Accessibility permission: ")
            + (trusted ? QStringLiteral("true") : QStringLiteral("false"));
    return trusted;
}

QCoro::Task<> AppState::startRecording()
{
    co_await submit(true);
}

QCoro::Task<> AppState::stopRecording()
{
    co_await submit(false);
}

QCoro::Task<> AppState::toggleRecording()
{
    co_await submit(!m_isRecording);
}

QCoro::Task<> AppState::submit(bool start)
{
    QPointer<AppState> self(this);
    auto command = std::make_shared<Command>();
    command->start = start;
    // What the user sees follows the command at once, so the next toggle
    // (a quick second press, a script) reads what this one meant.
    setIsRecording(start);
    m_commands.push_back(command);
    if (!m_running)
        runCommands();
    while (!command->applied) {
        co_await nextSignal(this, &AppState::commandApplied);
        if (!self)
            co_return;
    }
    if (const QPointer<Dictation> stopped = command->stopped; stopped && !stopped->isFinished())
        co_await nextSignal(stopped.data(), &Dictation::finished);
}

QCoro::Task<> AppState::runCommands()
{
    QPointer<AppState> self(this);
    m_running = true;
    while (!m_commands.empty()) {
        const std::shared_ptr<Command> command = m_commands.front();
        m_commands.pop_front();
        if (command->start) {
            co_await applyStart();
            if (!self)
                co_return;
        } else {
            command->stopped = applyStop();
        }
        command->applied = true;
        emit commandApplied();
    }
    m_running = false;
    // A start that failed leaves nothing recording, whatever was asked.
    setIsRecording(m_current != nullptr);
}

QCoro::Task<> AppState::applyStart()
{
    QPointer<AppState> self(this);
    qCInfo(lcApp).noquote() << QStringLiteral("🎙️ startRecording() called");
    if (m_current)
        co_return;
    if (!checkAccessibilityPermission()) {
        qCWarning(lcApp).noquote() << QStringLiteral("❌ No accessibility permission");
        qCInfo(lcApp).noquote() << QStringLiteral("🔐 Prompting for accessibility permission...");
        // Not awaited: later commands must not wait for the user to read it.
        m_typing.showEnableAccessibilityAlert();
        co_return;
    }

    ++m_recording;
    emit recordingStarting();
    setTranscribedText(QString());
    auto *dictation = new Dictation(m_recording, m_recognizer.language(), m_recognizer, m_typing, this);
    connect(dictation, &Dictation::transcribed, this, &AppState::setTranscribedText);
    connect(dictation, &Dictation::failed, this, [this, dictation](const QString &message) {
        // A failure of an older recording is old news once a newer one runs.
        if (dictation->recording() == m_recording)
            emit errorReported(message);
    });
    connect(dictation, &Dictation::endedByItself, this, [this, dictation] {
        if (m_current != dictation)
            return;
        qCInfo(lcApp).noquote() << QStringLiteral("⏹️ Recording ended by itself");
        applyStop();
        // Nothing records: the panel and a later toggle must know.
        if (!m_running)
            setIsRecording(false);
    });
    connect(dictation, &Dictation::finished, this, [this, dictation] { retire(dictation); });
    m_current = dictation;

    QCoro::Task<bool> starting = dictation->start();
    const bool listening = co_await std::move(starting);
    if (!self)
        co_return;
    if (!listening) {
        if (m_current == dictation)
            m_current = nullptr;
        dictation->deleteLater();
        co_return;
    }
    qCInfo(lcApp).noquote() << QStringLiteral("✅ Recording started with ")
            + (m_recognizer.isActiveEngineRemote() ? QStringLiteral("☁️") : QStringLiteral("💻"))
            + QLatin1Char(' ') + m_recognizer.activeEngine();
    m_cursorIndicator.show();
}

QPointer<Dictation> AppState::applyStop()
{
    qCInfo(lcApp).noquote() << QStringLiteral("⏹️ stopRecording() called");
    const QPointer<Dictation> dictation = m_current;
    if (!dictation)
        return nullptr;
    m_current = nullptr;
    m_cursorIndicator.hide();
    m_finishing.append(dictation);
    updateIsFinishing();
    // Its microphone closes before the next command runs; its last words
    // are collected and typed beside whatever comes next.
    dictation->stop();
    return dictation;
}

void AppState::retire(Dictation *dictation)
{
    m_finishing.removeAll(QPointer<Dictation>(dictation));
    if (m_current == dictation)
        m_current = nullptr;
    updateIsFinishing();
    qCInfo(lcApp).noquote() << QStringLiteral("✅ Recording stopped");
    if (const QString untyped = dictation->untypedText(); !untyped.isEmpty()) {
        emit errorReported(tr("Not everything you said was typed: another window had the keyboard focus."));
        m_untyped << untyped;
    }
    dictation->deleteLater();
    offerUntypedTexts();
}

// The offer is a window of our own: shown while the user dictates, it would
// take the focus from the application being dictated into.
QCoro::Task<> AppState::offerUntypedTexts()
{
    QPointer<AppState> self(this);
    if (m_offering)
        co_return;
    m_offering = true;
    while (!m_untyped.isEmpty() && !m_current) {
        const QString text = m_untyped.takeFirst();
        co_await m_typing.offerUntypedText(text);
        if (!self)
            co_return;
    }
    m_offering = false;
}

void AppState::setLanguage(SupportedLanguage language)
{
    if (m_current)
        m_cursorIndicator.hide();
    m_recognizer.setLanguage(language);
    if (m_current) {
        m_current->setLanguage(language);
        m_cursorIndicator.show();
    }
}

void AppState::toggleFromPanel()
{
    qCInfo(lcApp).noquote() << QStringLiteral("🎤 Button tapped - isRecording: ")
            + (m_isRecording ? QStringLiteral("true") : QStringLiteral("false"));
    qCInfo(lcApp).noquote() << (m_isRecording ? QStringLiteral("⏹️ Stopping recording...")
                                              : QStringLiteral("▶️ Starting recording..."));
    toggleRecording();
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

void AppState::updateIsFinishing()
{
    const bool finishing = !m_finishing.isEmpty();
    if (m_isFinishing == finishing)
        return;
    m_isFinishing = finishing;
    emit isFinishingChanged(finishing);
}

void AppState::setNeedsAccessibilityPermission(bool value)
{
    if (m_needsAccessibilityPermission == value)
        return;
    m_needsAccessibilityPermission = value;
    emit needsAccessibilityPermissionChanged(value);
}
