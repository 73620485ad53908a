#include "speech/SpeechService.h"

#include <QNetworkAccessManager>

struct SpeechService::Outcome {
};

SpeechService::SpeechService(QObject *parent) : SpeechService(std::nullopt, defaultRequestTimeout, parent) { }

SpeechService::SpeechService(std::optional<QString> serverBaseURL, std::chrono::milliseconds requestTimeout,
                             QObject *parent)
    : QObject(parent),
      m_serverBaseURL(serverBaseURL.value_or(defaultServerBaseURL())),
      m_requestTimeout(requestTimeout),
      m_network(new QNetworkAccessManager(this))
{
}

SpeechService::~SpeechService() = default;

void SpeechService::setTranscribedText(const QString &text)
{
    if (text == m_transcribedText)
        return;
    m_transcribedText = text;
    emit transcribedTextChanged(text);
}

void SpeechService::setLanguage(const QString &code)
{
    m_selectedLanguage = (code.isNull() || code == QLatin1String("auto")) ? QString() : code;
}

QCoro::Task<> SpeechService::startStreaming()
{
    co_return;
}

QCoro::Task<> SpeechService::stopStreaming()
{
    co_return;
}
