#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class AppState;
class Notifier;

// Makes sure no recognition or capture failure goes unseen: the panel shows
// the latest one (`message`) until the next result or the next recording, and
// the desktop is notified of each distinct failure once per recording, so a
// server that refuses every upload does not flood the screen.
class ErrorReporter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    explicit ErrorReporter(Notifier &notifier, QObject *parent = nullptr);

    // Empty when there is nothing to show.
    QString message() const { return m_message; }

    // Feeds the reporter from the controller: its starts, its error text and
    // its transcripts.
    void follow(AppState &state);

public slots:
    void recordingStarted();
    void reportError(const QString &message);
    // A transcript arrived: whatever went wrong before has been overcome.
    void resultArrived();

signals:
    void messageChanged(const QString &message);

private:
    void setMessage(const QString &message);

    Notifier &m_notifier;
    QString m_message;
    QSet<QString> m_notified; // in the current recording
};
