#pragma once

#include "platform/AlertPresenter.h"

#include <QFuture>
#include <QList>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <memory>

// Records every alert and answers it without showing anything.
//
// Answers come from `answers` in order (1000 = first button); with none left
// the alert is dismissed (the last button). With `holdAnswers` set, runModal
// stays suspended until the test calls answer(), so a test can look at the
// world while an alert is up.
class FakeAlertPresenter : public AlertPresenter
{
public:
    QList<Alert> shown;
    QList<int> answers;
    bool holdAnswers = false;

    QCoro::Task<int> runModal(Alert alert) override
    {
        shown.append(alert);
        const int dismissed = firstButton + int(qMax(alert.buttons.size(), qsizetype(1))) - 1;
        if (holdAnswers) {
            auto promise = std::make_shared<QPromise<int>>();
            promise->start();
            m_waiting.append(promise);
            QFuture<int> future = promise->future();
            co_await future;
            co_return future.result();
        }
        co_return answers.isEmpty() ? dismissed : answers.takeFirst();
    }

    int waitingCount() const { return int(m_waiting.size()); }

    // Answers the oldest alert that is still up.
    void answer(int button)
    {
        if (m_waiting.isEmpty())
            return;
        auto promise = m_waiting.takeFirst();
        promise->addResult(button);
        promise->finish();
    }

    QStringList titles() const
    {
        QStringList result;
        for (const Alert &alert : shown)
            result.append(alert.title);
        return result;
    }

private:
    QList<std::shared_ptr<QPromise<int>>> m_waiting;
};
