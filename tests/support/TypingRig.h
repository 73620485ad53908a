#pragma once

#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeTypingBackend.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"

#include <QSignalSpy>

#include <qcoro/qcorotask.h>

// The real typing service between fakes: a text field that records the keys
// it gets and takes pastes from the fake clipboard.
struct TypingRig {
    FakeTypingBackend field;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    TextInsertionService service { field, alerts, workspace, bundle };
    QSignalSpy failures { &service, &TextInsertionService::typingFailed };

    TypingRig()
    {
        field.pasteboard = &pasteboard;
        service.beginRecording(1);
    }
};

// Types `text` as the whole of `utterance` in recording 1, as the controller
// would after beginRecording(1).
inline void typeUtterance(TextInsertionService &service, const QString &text, quint64 utterance = 0)
{
    QCoro::waitFor(service.insertTranscript({ 1, utterance, text, false }));
}
