#pragma once

#include "platform/AlertPresenter.h"

#include <QList>

// Records every alert and answers from `answers`, then as dismissed (the last button).
class FakeAlertPresenter : public AlertPresenter
{
public:
    QList<Alert> shown;
    QList<int> answers;

    QCoro::Task<int> runModal(Alert alert) override
    {
        shown.append(alert);
        const int dismissed = firstButton + int(qMax(alert.buttons.size(), qsizetype(1))) - 1;
        co_return answers.isEmpty() ? dismissed : answers.takeFirst();
    }
};
