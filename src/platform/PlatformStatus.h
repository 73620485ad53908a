#pragma once

#include <QObject>
#include <QString>

// What the session gave the program, for the settings to show.
class PlatformStatus : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString typingBackend READ typingBackend NOTIFY typingBackendChanged)

public:
    using QObject::QObject;

    // The typing backend's name in the user's language.
    QString typingBackend() const { return m_typingBackend; }
    void setTypingBackend(const QString &name);

signals:
    void typingBackendChanged();

private:
    QString m_typingBackend;
};
