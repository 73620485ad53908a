#include "app/SettingsWriteAlert.h"

#include "common/Settings.h"
#include "platform/AlertPresenter.h"

#include <QDir>

SettingsWriteAlert::SettingsWriteAlert(AlertPresenter &alerts, QObject *parent)
    : QObject(parent)
    , m_alerts(alerts)
{
    // Queued: a write fails deep inside whatever changed a setting, and the
    // alert must not run in the middle of it.
    connect(
        &SettingsStatus::instance(), &SettingsStatus::writeFailed, this,
        [this](const QString &filePath) { show(filePath); }, Qt::QueuedConnection);
}

QCoro::Task<> SettingsWriteAlert::show(QString filePath)
{
    // A drag or a sign-in writes several values: one alert says it all.
    if (m_shown)
        co_return;
    m_shown = true;
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.title = tr("Tellwind Cannot Save Its Settings");
    alert.informativeText
        = tr("%1 cannot be written. Changes you make now, signing in included, will be lost when Tellwind "
             "quits. Make sure the file and its folder belong to you and the disk is not full.")
              .arg(QDir::toNativeSeparators(filePath));
    alert.buttons = { tr("OK") };
    co_await m_alerts.runModal(alert);
}
