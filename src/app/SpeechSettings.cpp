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
#include <QUrl>
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

QString SpeechSettings::problemWithAddress(const QString &url)
{
    const QString trimmed = url.trimmed();
    const QUrl parsed(trimmed, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return tr("The address must start with http:// or https://.");
    if (!parsed.isValid())
        return tr("This is not a valid web address.");
    if (parsed.host().isEmpty())
        return tr("The address needs the server's name or IP address after \"%1://\".").arg(scheme);
    return {};
}

bool SpeechSettings::setServerBaseURL(const QString &url)
{
    const QString trimmed = url.trimmed();
    const QString problem = trimmed.isEmpty() ? QString() : problemWithAddress(trimmed);
    if (problem != m_addressProblem) {
        m_addressProblem = problem;
        emit addressProblemChanged();
    }
    if (!problem.isEmpty())
        return false;
    if (trimmed == serverBaseURL())
        return true;
    if (trimmed.isEmpty())
        Settings::remove(serverBaseURLKey);
    else
        Settings::setString(serverBaseURLKey, trimmed);
    forgetTest();
    emit serverBaseURLChanged();
    return true;
}

void SpeechSettings::forgetTest()
{
    ++m_test;
    if (!m_testing && m_testResult.isEmpty())
        return;
    m_testing = false;
    m_testSucceeded = false;
    m_testResult.clear();
    emit testChanged();
}

QCoro::Task<> SpeechSettings::testServerNow(QString url)
{
    if (!problemWithAddress(url).isEmpty()) {
        // Nothing to ask: the refusal in addressProblem says why.
        forgetTest();
        setServerBaseURL(url);
        co_return;
    }
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
        m_testResult = tr("The server answers, but recognizes no language.");
    else if (answer.codes.size() == 1)
        // No English catalogue ships to pick the singular of the plural form below.
        m_testResult = tr("The server recognizes one language: %1").arg(answer.codes.first());
    else
        m_testResult = tr("The server recognizes %n languages: %1", nullptr, int(answer.codes.size()))
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
