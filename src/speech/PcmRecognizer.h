#pragma once

#include "speech/TranscriptEvent.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// A recognizer as the recognition manager drives it, whichever engine is
// behind it: fed the capture service's 16 kHz mono s16le PCM, it reports what
// it heard stamped with the recording it was started for. One object serves
// one session; the manager drops an object's reports once it has moved on.
class PcmRecognizer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Begins recognizing. Utterances are numbered from `firstUtterance` so
    // that the sessions of one recording never reuse an id. The reason it
    // cannot start, when it cannot.
    virtual QCoro::Task<std::optional<QString>> start(quint64 recording, quint64 firstUtterance) = 0;
    // Safe on any thread: the capture service calls it on its own.
    virtual void feed(const QByteArray &pcm) = 0;
    // No audio follows. Safe whether or not `start` ran or succeeded.
    virtual QCoro::Task<> finish() = 0;

Q_SIGNALS:
    void transcript(const TranscriptEvent &event);
    void recognitionError(const RecognitionError &error);
    // It cannot go on; another recognizer may take the session over.
    void failed();
};
