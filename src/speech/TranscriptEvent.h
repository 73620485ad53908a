#pragma once

#include <QMetaType>
#include <QString>

// What a recognizer heard, tied to the recording it belongs to and to the
// recognizer's own utterance. `text` is the whole utterance as the recognizer
// sees it now: a later event of the same utterance replaces it, an event of a
// new utterance follows it.
struct TranscriptEvent {
    quint64 recording = 0;
    quint64 utterance = 0;
    QString text;
    bool isFinal = false;
};

// A failure the user should hear about, tied to its recording like a transcript.
struct RecognitionError {
    quint64 recording = 0;
    QString message;
};

Q_DECLARE_METATYPE(TranscriptEvent)
Q_DECLARE_METATYPE(RecognitionError)
