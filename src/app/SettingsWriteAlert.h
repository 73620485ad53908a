#pragma once

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

class AlertPresenter;

// Tells the user, once a run, that the settings file cannot be written:
// every change made meanwhile, a sign-in included, is gone at the next start.
class SettingsWriteAlert : public QObject
{
    Q_OBJECT

public:
    explicit SettingsWriteAlert(AlertPresenter &alerts, QObject *parent = nullptr);

private:
    QCoro::Task<> show(QString filePath);

    AlertPresenter &m_alerts;
    bool m_shown = false;
};
