#pragma once

#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeApplicationBundle.h"
#include "fakes/FakeKeyboardEventSink.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/FakeWorkspace.h"
#include "output/TextInsertionService.h"

// The real typing service between fakes: a text field that records the keys
// it gets and takes pastes from the fake clipboard.
struct TypingRig {
    FakeKeyboardEventSink field;
    FakeAccessibilityTrust trust;
    FakePasteboard pasteboard;
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    FakeApplicationBundle bundle;
    FakeWindowSystem windows;
    TextInsertionService service { field, trust, pasteboard, alerts, workspace, bundle, windows };

    TypingRig() { field.pasteboard = &pasteboard; }
};
