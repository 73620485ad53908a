#include "app/ErrorReporter.h"

#include "app/AppState.h"
#include "platform/Notifier.h"

ErrorReporter::ErrorReporter(Notifier &notifier, QObject *parent)
    : QObject(parent)
    , m_notifier(notifier)
{
}

void ErrorReporter::follow(AppState &state)
{
    connect(&state, &AppState::recordingStarting, this, &ErrorReporter::recordingStarted);
    connect(&state, &AppState::errorMessageChanged, this, [this](const QString &message) {
        if (!message.isEmpty())
            reportError(message);
    });
    // The same failure again after a result cleared it still shows.
    connect(&state, &AppState::errorReported, this, &ErrorReporter::reportError);
    connect(&state, &AppState::transcribedTextChanged, this, [this](const QString &text) {
        if (!text.isEmpty())
            resultArrived();
    });
}

void ErrorReporter::recordingStarted()
{
    m_notified.clear();
    setMessage(QString());
}

void ErrorReporter::reportError(const QString &message)
{
    if (message.isEmpty())
        return;
    setMessage(message);
    if (m_notified.contains(message))
        return;
    m_notified.insert(message);
    m_notifier.notify(tr("Dictation problem"), message);
}

void ErrorReporter::resultArrived()
{
    setMessage(QString());
}

void ErrorReporter::setMessage(const QString &message)
{
    if (message == m_message)
        return;
    m_message = message;
    emit messageChanged(message);
}
