#pragma once

#include <QIcon>
#include <QString>

#include <functional>
#include <memory>

class QMenu;

// One item in the desktop's status area (the tray): a pictogram with a menu.
// Removing the item is destroying it.
class StatusItem
{
public:
    enum class Click { left, right, middle };

    virtual ~StatusItem() = default;
    virtual void setImage(const QIcon &image, const QString &accessibilityDescription) = 0;
    // The menu is not owned by the item; it must outlive it or be replaced.
    virtual void setMenu(QMenu *menu) = 0;
    // Clicks that the status area hands to the item itself. Hosts that open
    // the menu on a click report nothing for that click.
    virtual void setClickHandler(std::function<void(Click)> handler) = 0;
};

class StatusBar
{
public:
    virtual ~StatusBar() = default;
    // Whether something currently shows status items. Items made while
    // nothing does are kept and appear once a host starts.
    virtual bool isAvailable() const = 0;
    virtual std::unique_ptr<StatusItem> statusItem() = 0;
};
