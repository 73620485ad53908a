#pragma once

#include <QDBusConnection>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

// The part of a desktop panel that tray items register with
// (org.kde.StatusNotifierWatcher). It lives on a thread and bus connection of
// its own, so the program under test can call it synchronously.
class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_items << service;
        }
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString &) { }

signals:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

class StatusNotifierWatcherStub
{
public:
    ~StatusNotifierWatcherStub()
    {
        if (m_watcher)
            QMetaObject::invokeMethod(m_watcher, &QObject::deleteLater);
        m_thread.quit();
        m_thread.wait();
    }

    // Starts serving; false when the name could not be taken.
    bool start()
    {
        m_thread.start();
        m_watcher = new StatusNotifierWatcher;
        m_watcher->moveToThread(&m_thread);
        bool registered = false;
        QMetaObject::invokeMethod(
            m_watcher,
            [this, &registered] {
                QDBusConnection connection
                    = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher-stub"));
                registered = connection.registerObject(QStringLiteral("/StatusNotifierWatcher"), m_watcher,
                                                       QDBusConnection::ExportAllSlots
                                                           | QDBusConnection::ExportAllSignals
                                                           | QDBusConnection::ExportAllProperties)
                    && connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            },
            Qt::BlockingQueuedConnection);
        return registered;
    }

    QStringList items() const { return m_watcher ? m_watcher->items() : QStringList(); }

private:
    QThread m_thread;
    StatusNotifierWatcher *m_watcher = nullptr;
};
