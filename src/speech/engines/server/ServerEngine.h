#pragma once

#include "speech/engines/SpeechEngine.h"

#include <QPointer>

#include <memory>
#include <mutex>

class SpeechService;
class SpeechStreamEvents;

// tellwind-server, through the upload client: every language of the picker,
// always available (a server that cannot be reached says so per upload).
SpeechEngine serverEngine(SpeechService &service);

// One stream per session, which is one utterance.
class ServerSession : public EngineSession
{
    Q_OBJECT

public:
    ServerSession(SpeechService &service, QString language);

    QCoro::Task<std::optional<EngineError>> start(quint64 recording, quint64 firstUtterance) override;
    void feed(const QByteArray &pcm) override;
    // Returns once the stream's uploads are answered (or given up).
    QCoro::Task<> finish() override;

private:
    // Hands what the capture thread fed to the client, on the main thread.
    void deliverFedAudio();

    QPointer<SpeechService> m_service;
    std::shared_ptr<SpeechStreamEvents> m_stream;
    QString m_language;
    quint64 m_recording = 0;
    quint64 m_utterance = 0;
    bool m_started = false;
    bool m_finished = false;
    // Fed and not yet handed to the client. The capture's stop returns once the
    // last chunk is fed, not once a queued hand-over has run: a finish takes
    // what is still here, or the last words would miss the last upload.
    std::mutex m_fedMutex;
    QByteArray m_fed;
    bool m_deliveryQueued = false;
};
