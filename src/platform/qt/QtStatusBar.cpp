#include "platform/qt/QtStatusBar.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace
{

class QtStatusItem : public StatusItem
{
public:
    QtStatusItem()
    {
        QObject::connect(
            &m_icon, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
                if (!m_clickHandler)
                    return;
                // A double click also arrives as the single click before it.
                if (reason == QSystemTrayIcon::Trigger)
                    m_clickHandler(Click::left);
                else if (reason == QSystemTrayIcon::Context)
                    m_clickHandler(Click::right);
                else if (reason == QSystemTrayIcon::MiddleClick)
                    m_clickHandler(Click::middle);
            });
    }

    void setImage(const QIcon &image, const QString &accessibilityDescription) override
    {
        m_icon.setIcon(image);
        m_icon.setToolTip(accessibilityDescription);
        // Shown only once it has a picture: an empty item is a blank gap.
        if (!m_icon.isVisible())
            m_icon.show();
    }

    void setMenu(QMenu *menu) override { m_icon.setContextMenu(menu); }

    void setClickHandler(std::function<void(Click)> handler) override { m_clickHandler = std::move(handler); }

private:
    QSystemTrayIcon m_icon;
    std::function<void(Click)> m_clickHandler;
};

} // namespace

bool QtStatusBar::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::unique_ptr<StatusItem> QtStatusBar::statusItem()
{
    return std::make_unique<QtStatusItem>();
}
