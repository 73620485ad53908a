#pragma once

#include "platform/StatusBar.h"

#include <QMenu>
#include <QPointer>

// A status area that keeps what it was given: the live item's picture, menu
// and click handler, and how many items were ever made.
class FakeStatusBar : public StatusBar
{
public:
    struct Item : StatusItem {
        FakeStatusBar *bar;
        QIcon image;
        QString description;
        QPointer<QMenu> menu;
        std::function<void(Click)> clickHandler;

        explicit Item(FakeStatusBar *owner) : bar(owner) { }
        ~Item() override
        {
            if (bar->item == this)
                bar->item = nullptr;
        }
        void setImage(const QIcon &icon, const QString &text) override
        {
            image = icon;
            description = text;
        }
        void setMenu(QMenu *newMenu) override { menu = newMenu; }
        void setClickHandler(std::function<void(Click)> handler) override { clickHandler = std::move(handler); }
        void click(Click which) const
        {
            if (clickHandler)
                clickHandler(which);
        }
    };

    bool available = true;
    Item *item = nullptr; // the item currently shown
    int itemsMade = 0;

    bool isAvailable() const override { return available; }
    std::unique_ptr<StatusItem> statusItem() override
    {
        auto made = std::make_unique<Item>(this);
        item = made.get();
        ++itemsMade;
        return made;
    }
};
