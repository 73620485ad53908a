#pragma once

#include "platform/StatusBar.h"

#include <QMenu>
#include <QPointer>

// A status area that keeps what the live item was given.
class FakeStatusBar : public StatusBar
{
public:
    struct Item : StatusItem {
        FakeStatusBar &bar;
        QPointer<QMenu> menu;

        explicit Item(FakeStatusBar &owner)
            : bar(owner)
        {
        }
        ~Item() override { bar.item = bar.item == this ? nullptr : bar.item; }
        void setImage(const QIcon &, const QString &) override { }
        void setMenu(QMenu *newMenu) override { menu = newMenu; }
        void setClickHandler(std::function<void(Click)>) override { }
    };

    Item *item = nullptr; // the item shown now

    bool isAvailable() const override { return true; }
    std::unique_ptr<StatusItem> statusItem() override
    {
        return std::unique_ptr<StatusItem>(item = new Item(*this));
    }
};
