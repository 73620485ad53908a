#pragma once

#include "common/Settings.h"
#include "fakes/FakeAlertPresenter.h"
#include "fakes/FakeAudioEngine.h"
#include "fakes/FakeMicrophoneAuthorization.h"
#include "fakes/FakeSpeechEngine.h"
#include "fakes/FakeWorkspace.h"
#include "speech/AudioRecordingService.h"
#include "speech/SpeechRecognitionManager.h"
#include "speech/SpeechService.h"
#include "speech/engines/server/ServerEngine.h"

#include <qcoro/qcorotask.h>

// The recognition manager with a fake on-device engine and the real server client, both fed by the
// real capture service from one fake 16 kHz microphone.
struct RecognitionRig {
    FakeSpeechEngine speech;
    FakeMicrophoneAuthorization microphone;
    std::shared_ptr<FakeAudioEngine::Control> source = std::make_shared<FakeAudioEngine::Control>();
    FakeAlertPresenter alerts;
    FakeWorkspace workspace;
    std::unique_ptr<SpeechService> server;
    EngineRegistry engines;
    std::unique_ptr<SpeechRecognitionManager> manager;

    RecognitionRig() { source->format = { 16000.0, 1 }; }

    // The default server refuses every upload. `fresh`: from the on-device preference, whatever was stored.
    SpeechRecognitionManager &make(std::unique_ptr<SpeechService> client = {}, bool fresh = true)
    {
        manager.reset();
        server = client ? std::move(client)
                        : std::make_unique<SpeechService>(QStringLiteral("http://127.0.0.1:9"));
        engines = EngineRegistry();
        engines.add(speech.row());
        engines.add(serverEngine(*server));
        if (fresh)
            Settings::remove(SpeechRecognitionManager::preferredProviderKey);
        manager = std::make_unique<SpeechRecognitionManager>(engines, microphone,
            std::make_unique<AudioRecordingService>(FakeAudioEngine::factory(source), alerts, workspace));
        return *manager;
    }
    // The session the last start handed out: its results come from here.
    std::shared_ptr<RecognitionSession> session;

    // A start that finds a session listening changes nothing.
    void start(quint64 recording = 0)
    {
        if (std::shared_ptr<RecognitionSession> started = QCoro::waitFor(manager->startListening(recording)))
            session = std::move(started);
    }
    void stop() { QCoro::waitFor(manager->stopListening(session)); }
    // Seconds of sound at the source's rate.
    bool speak(double seconds, float level = 0.25f)
    {
        return source->deliver(quint32(seconds * source->format.sampleRate), level);
    }
};
