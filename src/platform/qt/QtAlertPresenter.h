#pragma once

#include "platform/AlertPresenter.h"

// Alerts as Qt message boxes. The box is shown with open() and awaited, so the
// event loop (and every other coroutine) keeps running while it is up.
class QtAlertPresenter : public AlertPresenter
{
public:
    QCoro::Task<int> runModal(Alert alert) override;
};
