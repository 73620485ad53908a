#include "app/LanguageAvailability.h"

#include "common/Log.h"
#include "common/Settings.h"
#include "speech/ServerLanguages.h"
#include "speech/SpeechService.h"
#include "speech/SupportedLanguage.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>

LanguageAvailability::LanguageAvailability(ModelCheck onDevice, QObject *parent)
    : QObject(parent)
    , m_hasModel(onDevice ? std::move(onDevice) : ModelCheck([](const QString &) { return false; }))
    , m_network(new QNetworkAccessManager(this))
{
    // The same way to the server as the uploads take.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { refreshNow(); });
}

void LanguageAvailability::setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    m_firstRetry = first;
    m_longestRetry = longest;
    m_nextRetry = first;
}

LanguageAvailability::~LanguageAvailability() = default;

QCoro::Task<> LanguageAvailability::refreshNow()
{
    QSet<QString> deviceCodes;
    for (const SupportedLanguage &language : SupportedLanguage::allCases()) {
        if (!language.isCloudOnly() && m_hasModel(language.rawValue()))
            deviceCodes.insert(language.rawValue());
    }
    if (deviceCodes != m_deviceCodes) {
        m_deviceCodes = deviceCodes;
        ++m_revision;
        emit changed();
    }

    m_retry.stop();
    const quint64 fetch = ++m_fetch;
    const QString baseURL = Settings::stringValue(QStringLiteral("serverBaseURL"))
                                .value_or(SpeechService::defaultServerBaseURL());
    QPointer<LanguageAvailability> self(this);
    QCoro::Task<ServerLanguages> asking = ServerLanguages::fetch(*m_network, baseURL);
    const ServerLanguages answer = co_await std::move(asking);
    if (!self || fetch != m_fetch)
        co_return;
    if (answer.reached) {
        m_server = Server::reachable;
        m_serverCodes = QSet<QString>(answer.codes.cbegin(), answer.codes.cend());
        m_serverError.clear();
        m_nextRetry = m_firstRetry;
    } else {
        // Once per outage, not at every retry.
        if (m_server != Server::unreachable || m_serverError != answer.error)
            qCWarning(lcApp).noquote()
                << QStringLiteral("⚠️ [STT] Could not ask the server for its languages: %1")
                       .arg(answer.error);
        m_server = Server::unreachable;
        m_serverError = answer.error;
        m_retry.start(m_nextRetry);
        m_nextRetry = std::min(m_nextRetry * 2, m_longestRetry);
    }
    ++m_revision;
    emit changed();
}

bool LanguageAvailability::onDevice(const QString &code, bool prefersCloud) const
{
    return !prefersCloud && m_deviceCodes.contains(code);
}

QString LanguageAvailability::mark(const QString &code, bool prefersCloud) const
{
    if (onDevice(code, prefersCloud))
        return {};
    switch (m_server) {
    case Server::unknown:
        return {};
    case Server::unreachable:
        return tr("Server unreachable");
    case Server::reachable:
        return m_serverCodes.contains(code) ? QString() : tr("Not available");
    }
    return {};
}

QString LanguageAvailability::reason(const QString &code, bool prefersCloud) const
{
    if (mark(code, prefersCloud).isEmpty())
        return {};
    // Whether the device could have done it had the user not chosen the server.
    const bool deviceCould = m_deviceCodes.contains(code);
    const QString device = deviceCould
        ? tr("You chose to recognize speech on the server.")
        : tr("No speech model for this language is installed on this computer.");
    const QString server = m_server == Server::unreachable
        ? tr("The speech server cannot be reached: %1").arg(m_serverError)
        : tr("The speech server does not recognize this language.");
    return device + u' ' + server;
}
