#pragma once

#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeTypingBackend.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"

#include <QSignalSpy>

#include <qcoro/qcorotask.h>

// The real typing service between fakes: a text field recording its keys, taking pastes from the clipboard.
struct TypingRig {
    FakeTypingBackend field;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    FakeWindowSystem windows;
    TextInsertionService service;
    QSignalSpy failures { &service, &TextInsertionService::typingFailed };
    std::shared_ptr<TypingScope> scope = service.beginDictation();

    // `system` in place of the fake windows, where a test has real ones.
    explicit TypingRig(WindowSystem *system = nullptr)
        : service(field, alerts, workspace, bundle, system ? *system : windows, pasteboard)
    {
        field.pasteboard = &pasteboard;
    }
};

// Types `text` as the whole, final text of `utterance` of the rig's dictation.
inline void typeUtterance(TypingRig &rig, const QString &text, quint64 utterance = 0)
{
    QCoro::waitFor(rig.service.insertTranscript(rig.scope, { 1, utterance, text, true }));
}
