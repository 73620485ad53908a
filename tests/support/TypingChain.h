#pragma once

#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/typing/TypingBackends.h"

// The typing service with the backend the program would choose for this session, and the real clipboard.
struct TypingChain {
    SyntheticKeyLog sent;
    QtPasteboard pasteboard;
    TypingSetup setup = makeTypingBackend({ SessionInfo::current(), sent, pasteboard });
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    FakeWindowSystem windows;
    TextInsertionService service { *setup.backend, alerts, workspace, bundle, windows, pasteboard };
    std::shared_ptr<TypingScope> scope = service.beginDictation();

    // A new dictation, as a recording start makes one, in a window of its own.
    void begin()
    {
        ++windows.focus;
        scope = service.beginDictation();
    }
    QCoro::Task<> type(const QString &text, quint64 utterance = 0)
    {
        return service.insertTranscript(scope, { 0, utterance, text, true });
    }
};
