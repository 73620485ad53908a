#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariantList>

#include <qcoro/qcorotask.h>

#include <functional>

class QNetworkAccessManager;

// The "Speech" section of the settings: which server recognizes speech (with
// a test that shows what it answers) and which microphone to listen to.
class SpeechSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString serverBaseURL READ serverBaseURL WRITE setServerBaseURL NOTIFY serverBaseURLChanged)
    // Why the last address offered was refused; empty once one is taken.
    Q_PROPERTY(QString addressProblem READ addressProblem NOTIFY addressProblemChanged)
    Q_PROPERTY(bool isTesting READ isTesting NOTIFY testChanged)
    Q_PROPERTY(bool testSucceeded READ testSucceeded NOTIFY testChanged)
    Q_PROPERTY(QString testResult READ testResult NOTIFY testChanged)
    // [{name, description}], "System default" (name "") first.
    Q_PROPERTY(QVariantList microphones READ microphones NOTIFY microphonesChanged)
    Q_PROPERTY(QString microphone READ microphone WRITE setMicrophone NOTIFY microphoneChanged)
    // Set while the chosen microphone is not connected.
    Q_PROPERTY(QString microphoneNotice READ microphoneNotice NOTIFY microphonesChanged)

public:
    static inline const QString serverBaseURLKey = QStringLiteral("serverBaseURL");
    static inline const QString microphoneKey = QStringLiteral("microphone");
    // (name, description) of each input; runs on a worker thread.
    using SourceLister = std::function<QList<QPair<QString, QString>>()>;

    // By default the sources come from the sound server.
    explicit SpeechSettings(SourceLister listSources = {}, QObject *parent = nullptr);
    ~SpeechSettings() override;

    QString serverBaseURL() const;
    // Stores `url` when it can serve (empty restores the default); otherwise
    // keeps the stored one and says why in addressProblem. True when taken.
    bool setServerBaseURL(const QString &url);
    Q_INVOKABLE bool applyServerBaseURL(const QString &url) { return setServerBaseURL(url); }
    QString addressProblem() const { return m_addressProblem; }
    // Why `url` cannot be a server's address, for the user; empty when it can.
    static QString problemWithAddress(const QString &url);
    bool isTesting() const { return m_testing; }
    bool testSucceeded() const { return m_testSucceeded; }
    QString testResult() const { return m_testResult; }
    QVariantList microphones() const;
    QString microphone() const;
    void setMicrophone(const QString &name);
    QString microphoneNotice() const;

    // Asks the server at `url` for its languages; the outcome lands in testResult.
    Q_INVOKABLE void testServer(const QString &url) { testServerNow(url); }
    // The address being edited is no longer the one tested: its result goes,
    // and an answer still on its way is dropped.
    Q_INVOKABLE void forgetTest();
    QCoro::Task<> testServerNow(QString url);
    Q_INVOKABLE void refreshMicrophones() { refreshMicrophonesNow(); }
    QCoro::Task<> refreshMicrophonesNow();

signals:
    void serverBaseURLChanged();
    void addressProblemChanged();
    void testChanged();
    void microphonesChanged();
    void microphoneChanged();

private:
    SourceLister m_listSources;
    QNetworkAccessManager *m_network;
    bool m_testing = false;
    bool m_testSucceeded = false;
    QString m_testResult;
    QString m_addressProblem;
    quint64 m_test = 0;
    QList<QPair<QString, QString>> m_sources;
    bool m_sourcesKnown = false;
};
