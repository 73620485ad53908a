#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

class QNetworkAccessManager;

// Which languages the current set-up can recognise, for the picker's marks:
// on this computer where a speech model is installed, on the server where it
// lists the language. Learnt at start and again whenever the picker opens;
// a server that cannot be reached (still loading its models, say) is asked
// again, less and less often, until it answers.
class LanguageAvailability : public QObject
{
    Q_OBJECT
    // Bumped on every change, for bindings that call the functions below.
    Q_PROPERTY(int revision READ revision NOTIFY changed)

public:
    enum class Server { unknown, reachable, unreachable };
    using ModelCheck = std::function<bool(const QString &code)>;

    // `onDevice` says which languages this machine recognizes itself
    // (none without it); the server is the one in the setting
    // "serverBaseURL" at the time of each refresh.
    explicit LanguageAvailability(ModelCheck onDevice = {}, QObject *parent = nullptr);
    ~LanguageAvailability() override;

    int revision() const { return m_revision; }
    Server server() const { return m_server; }

    static constexpr std::chrono::milliseconds firstRetry { 1000 };
    static constexpr std::chrono::milliseconds longestRetry { 60000 };
    // Tests wait less.
    void setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest);

    Q_INVOKABLE void refresh() { refreshNow(); }
    QCoro::Task<> refreshNow();

    // Empty when `code` can be recognised the way the user prefers (on the
    // device where it can, else by the server); otherwise a short mark for
    // the picker's row and a sentence for its tooltip.
    Q_INVOKABLE QString mark(const QString &code, bool prefersCloud) const;
    Q_INVOKABLE QString reason(const QString &code, bool prefersCloud) const;

signals:
    void changed();

private:
    bool onDevice(const QString &code, bool prefersCloud) const;

    ModelCheck m_hasModel;
    QNetworkAccessManager *m_network;
    QSet<QString> m_deviceCodes;
    QSet<QString> m_serverCodes;
    Server m_server = Server::unknown;
    QString m_serverError;
    int m_revision = 0;
    quint64 m_fetch = 0; // the newest fetch wins
    QTimer m_retry;
    std::chrono::milliseconds m_firstRetry = firstRetry;
    std::chrono::milliseconds m_longestRetry = longestRetry;
    std::chrono::milliseconds m_nextRetry = firstRetry;
};
