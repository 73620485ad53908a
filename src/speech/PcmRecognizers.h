#pragma once

#include "platform/SpeechRecognizerBackend.h"
#include "speech/PcmRecognizer.h"

#include <QPointer>

#include <chrono>
#include <memory>

class SpeechService;

// The recognizer of this machine (PocketSphinx behind the platform interface).
class OnDeviceRecognizer : public PcmRecognizer
{
    Q_OBJECT

public:
    // How long a stop waits for the decoder's last result at most.
    static constexpr std::chrono::milliseconds finishTimeout { 5000 };

    // The request is made at once, so that audio fed before `start` is kept.
    OnDeviceRecognizer(SpeechRecognizerBackend &backend, std::shared_ptr<SpeechRecognizer> recognizer);
    ~OnDeviceRecognizer() override;

    QCoro::Task<std::optional<QString>> start(quint64 recording, quint64 firstUtterance) override;
    void feed(const QByteArray &pcm) override;
    // Ends the audio before cancelling: the decoder still turns the last
    // words into a final result. Returns once the task has said its last.
    QCoro::Task<> finish() override;

Q_SIGNALS:
    // The task reported its end (cancelled or failed): nothing follows.
    void ended();

private:
    void handle(std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error);

    std::shared_ptr<SpeechRecognizer> m_recognizer;
    // Set once, before any feed: read on the capture thread without a lock.
    const std::shared_ptr<SpeechRecognitionRequest> m_request;
    std::shared_ptr<SpeechRecognitionTask> m_task;
    quint64 m_recording = 0;
    quint64 m_firstUtterance = 0;
    bool m_ended = false;
};

// The server client: one stream per session, which is one utterance.
class ServerRecognizer : public PcmRecognizer
{
public:
    ServerRecognizer(SpeechService &service, QString language);

    QCoro::Task<std::optional<QString>> start(quint64 recording, quint64 firstUtterance) override;
    void feed(const QByteArray &pcm) override;
    // Returns once the stream's uploads are answered (or given up).
    QCoro::Task<> finish() override;

private:
    QPointer<SpeechService> m_service;
    QString m_language;
    quint64 m_recording = 0;
    quint64 m_utterance = 0;
    bool m_started = false;
    bool m_finished = false;
};
