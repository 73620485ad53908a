#include "app/SpeechSettings.h"

#include "common/Settings.h"
#include "platform/pulse/PulseAudioEngine.h"
#include "speech/ServerLanguages.h"
#include "speech/SpeechService.h"

#include <QFuture>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <QVariantMap>

#include <qcoro/qcorofuture.h>

SpeechSettings::SpeechSettings(SourceLister listSources, QObject *parent)
    : QObject(parent)
    , m_listSources(listSources ? std::move(listSources) : SourceLister(&PulseAudioEngine::inputSources))
    , m_network(new QNetworkAccessManager(this))
{
    m_network->setProxy(QNetworkProxy::NoProxy);
}

SpeechSettings::~SpeechSettings() = default;

QString SpeechSettings::serverBaseURL() const
{
    return Settings::stringValue(serverBaseURLKey).value_or(SpeechService::defaultServerBaseURL());
}

void SpeechSettings::setServerBaseURL(const QString &url)
{
    const QString trimmed = url.trimmed();
    if (trimmed == serverBaseURL())
        return;
    if (trimmed.isEmpty())
        Settings::remove(serverBaseURLKey);
    else
        Settings::setString(serverBaseURLKey, trimmed);
    emit serverBaseURLChanged();
}

QCoro::Task<> SpeechSettings::testServerNow(QString url)
{
    const quint64 test = ++m_test;
    m_testing = true;
    m_testResult = tr("Asking the server…");
    m_testSucceeded = false;
    emit testChanged();

    QPointer<SpeechSettings> self(this);
    QCoro::Task<ServerLanguages> asking = ServerLanguages::fetch(*m_network, url.trimmed());
    const ServerLanguages answer = co_await std::move(asking);
    if (!self || test != m_test)
        co_return;
    m_testing = false;
    m_testSucceeded = answer.reached;
    if (!answer.reached)
        m_testResult = tr("No answer: %1").arg(answer.error);
    else if (answer.codes.isEmpty())
        m_testResult = tr("The server answers, but recognises no language.");
    else
        m_testResult = tr("The server recognises %n language(s): %1", nullptr, int(answer.codes.size()))
                           .arg(answer.codes.join(QStringLiteral(", ")));
    emit testChanged();
}

QVariantList SpeechSettings::microphones() const
{
    QVariantList list { QVariantMap {
        { QStringLiteral("name"), QString() }, { QStringLiteral("description"), tr("System default") } } };
    for (const auto &[name, description] : m_sources)
        list.append(
            QVariantMap { { QStringLiteral("name"), name }, { QStringLiteral("description"), description } });
    return list;
}

QString SpeechSettings::microphone() const
{
    return Settings::stringValue(microphoneKey).value_or(QString());
}

void SpeechSettings::setMicrophone(const QString &name)
{
    if (name == microphone())
        return;
    if (name.isEmpty())
        Settings::remove(microphoneKey);
    else
        Settings::setString(microphoneKey, name);
    emit microphoneChanged();
    emit microphonesChanged(); // the notice may go
}

QString SpeechSettings::microphoneNotice() const
{
    const QString chosen = microphone();
    if (chosen.isEmpty() || !m_sourcesKnown)
        return {};
    for (const auto &source : m_sources) {
        if (source.first == chosen)
            return {};
    }
    return tr("The chosen microphone (%1) is not connected: the system default is used until it is back.")
        .arg(chosen);
}

QCoro::Task<> SpeechSettings::refreshMicrophonesNow()
{
    QPointer<SpeechSettings> self(this);
    using Sources = QList<QPair<QString, QString>>;
    auto promise = std::make_shared<QPromise<Sources>>();
    const QFuture<Sources> listed = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, list = m_listSources] {
        promise->addResult(list());
        promise->finish();
    });
    const QList<QPair<QString, QString>> sources = co_await listed;
    if (!self)
        co_return;
    m_sources = sources;
    m_sourcesKnown = true;
    emit microphonesChanged();
}
