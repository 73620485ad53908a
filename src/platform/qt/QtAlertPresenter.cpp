#include "platform/qt/QtAlertPresenter.h"

#include "common/Log.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <qcoro/qcorosignal.h>

QCoro::Task<int> QtAlertPresenter::runModal(Alert alert)
{
    const int lastButton = firstButton + int(qMax(alert.buttons.size(), qsizetype(1))) - 1;
    // Message boxes need the widgets application; without one (a pure Qt GUI
    // or console process) the alert counts as dismissed.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("⚠️ Cannot show the alert '%1' without a window system").arg(alert.title);
        co_return lastButton;
    }

    QPointer<QMessageBox> box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setWindowTitle(alert.title);
    box->setText(alert.title);
    box->setInformativeText(alert.informativeText);
    switch (alert.style) {
    case Alert::Style::informational:
        box->setIcon(QMessageBox::Information);
        break;
    case Alert::Style::warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case Alert::Style::critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    if (alert.showsApplicationIcon) {
        const QIcon icon = QApplication::windowIcon();
        if (!icon.isNull())
            box->setIconPixmap(icon.pixmap(64, 64));
    }

    QList<QAbstractButton *> buttons;
    for (const QString &title : alert.buttons) {
        // One role for every button keeps them in the order they were given
        // whatever the style's button layout prefers.
        buttons.append(box->addButton(title, QMessageBox::ActionRole));
    }
    if (buttons.isEmpty())
        buttons.append(box->addButton(QMessageBox::Ok));
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box->setEscapeButton(buttons.last());
    box->setWindowModality(Qt::ApplicationModal);
    // The panel is a tool window that never takes focus; the alert must be
    // found by the user wherever they are.
    box->setWindowFlag(Qt::WindowStaysOnTopHint);

    box->open();
    box->raise();
    box->activateWindow();
    co_await qCoro(box.data(), &QMessageBox::finished);

    if (!box)
        co_return lastButton;
    const int index = int(buttons.indexOf(box->clickedButton()));
    box->deleteLater();
    co_return index < 0 ? lastButton : firstButton + index;
}
