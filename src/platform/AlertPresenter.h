#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

// A modal alert: the title, the explanatory text and the buttons in order.
struct Alert {
    enum class Style { informational, warning, critical };
    Style style = Style::warning;
    QString title;
    QString informativeText;
    QStringList buttons;
    // Show the program's own icon in place of the style's, when it has one.
    bool showsApplicationIcon = false;
};

// Shows alerts without blocking the event loop. The answer is the pressed
// button as 1000, 1001, … in the order the buttons were given; dismissing the
// alert any other way answers the last button.
class AlertPresenter
{
public:
    static constexpr int firstButton = 1000;

    virtual ~AlertPresenter() = default;
    virtual QCoro::Task<int> runModal(Alert alert) = 0;
};
