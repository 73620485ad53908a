#include "app/Dictation.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "output/TypingScope.h"
#include "speech/TextFormatter.h"
#include "speech/TextFormattingSettings.h"

#include <QPointer>

Dictation::Dictation(quint64 recording, SupportedLanguage language, DictationRecognizer &recognizer,
    DictationTyping &typing, QObject *parent)
    : QObject(parent)
    , m_recording(recording)
    , m_language(language)
    , m_recognizer(recognizer)
    , m_typing(typing)
    , m_scope(typing.beginDictation())
{
}

Dictation::~Dictation()
{
    if (m_session)
        m_session->close();
}

QCoro::Task<bool> Dictation::start()
{
    QPointer<Dictation> self(this);
    QCoro::Task<std::shared_ptr<RecognitionSession>> starting = m_recognizer.startListening(m_recording);
    std::shared_ptr<RecognitionSession> session = co_await std::move(starting);
    if (!self || !session)
        co_return false;
    m_session = std::move(session);
    connect(m_session.get(), &RecognitionSession::transcript, this,
        [this](const TranscriptEvent &event) { handleTranscript(event); });
    connect(m_session.get(), &RecognitionSession::recognitionError, this,
        [this](const RecognitionError &error) { emit failed(error.message); });
    connect(m_session.get(), &RecognitionSession::endedByItself, this, &Dictation::endedByItself);
    co_return true;
}

QCoro::Task<> Dictation::handleTranscript(TranscriptEvent event)
{
    // Each utterance is formatted whole: when a later word turns an earlier
    // one into a command ("new" becoming "new line"), the text formats
    // differently before that word, and typing corrects it like any other
    // revision. A later utterance follows a separator that ends the sentence.
    event.text = TextFormatter::format(event.text,
        { m_language.rawValue(), TextFormattingSettings::options(), event.utterance == 0,
            event.utterance != 0 });
    if (!event.text.isEmpty())
        emit transcribed(event.text);
    qCDebug(lcApp).noquote() << QStringLiteral("📝 New text to insert: '") + event.text + QLatin1Char('\'');

    QPointer<Dictation> self(this);
    ++m_insertionsInFlight;
    co_await m_typing.insertTranscript(m_scope, std::move(event));
    if (!self)
        co_return;
    --m_insertionsInFlight;
    emit typingSettled();
}

QCoro::Task<> Dictation::stop()
{
    QPointer<Dictation> self(this);
    if (m_finished)
        co_return;
    if (m_stopping) {
        co_await nextSignal(this, &Dictation::finished);
        co_return;
    }
    m_stopping = true;
    if (m_session) {
        QCoro::Task<> stopping = m_recognizer.stopListening(m_session);
        co_await std::move(stopping);
        if (!self)
            co_return;
    }
    while (m_insertionsInFlight > 0) {
        co_await nextSignal(this, &Dictation::typingSettled);
        if (!self)
            co_return;
    }
    // Whatever the session might still say belongs to nobody.
    if (m_session)
        m_session->close();
    m_finished = true;
    emit finished();
}

QString Dictation::untypedText() const
{
    return m_scope && m_scope->heldBack ? m_scope->meantText() : QString();
}
