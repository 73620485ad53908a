#pragma once

#include "speech/TranscriptEvent.h"

#include <QObject>
#include <QString>

#include <memory>

class EngineSession;

// One recording as the recognition side sees it: whatever engine hears it
// (the on-device recognizer, the server after a fall-back, a restart in
// another language), its results come out of this object and no other. The
// dictation that asked for it listens here, so nothing of one recording can
// reach another: scoping by construction, not by comparing ids on the way.
// Once closed it says nothing more.
class RecognitionSession : public QObject
{
    Q_OBJECT

public:
    explicit RecognitionSession(quint64 recording, QObject *parent = nullptr)
        : QObject(parent)
        , m_recording(recording)
    {
    }

    quint64 recording() const { return m_recording; }
    // The engine that hears it now; it stays after the capture closed, for
    // its last words. The manager's to set.
    std::shared_ptr<EngineSession> engine;

    // Utterance ids run on across the engines of one session: each engine
    // numbers from here.
    quint64 nextUtterance() const { return m_nextUtterance; }

    // For the engines' side.
    void deliver(TranscriptEvent event)
    {
        if (m_closed)
            return;
        event.recording = m_recording;
        m_nextUtterance = std::max(m_nextUtterance, event.utterance + 1);
        emit transcript(event);
    }
    void fail(const QString &message)
    {
        if (!m_closed)
            emit recognitionError(RecognitionError { m_recording, message });
    }
    // The capture ended without being asked to (the microphone went away).
    void endByItself()
    {
        if (!m_closed)
            emit endedByItself();
    }
    void close()
    {
        m_closed = true;
        disconnect();
    }

Q_SIGNALS:
    void transcript(const TranscriptEvent &event);
    void recognitionError(const RecognitionError &error);
    void endedByItself();

private:
    quint64 m_recording = 0;
    quint64 m_nextUtterance = 0;
    bool m_closed = false;
};
