#pragma once

#include "speech/engines/pocketsphinx/PocketSphinxModel.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One PocketSphinx decoder. Building it takes a good fraction of a second, so
// it is made once and reused; it is not thread-safe, and each worker thread
// owns its own.
class SpeechDecoder
{
public:
    // nullopt, with the reason in `error`, when the model cannot be loaded.
    static std::unique_ptr<SpeechDecoder> create(const PocketSphinxModel &model, QString *error);
    ~SpeechDecoder();

    // The words in 16 kHz mono signed 16-bit little-endian `pcm`; empty for
    // silence. Utterances are cut where the voice pauses, as the engine's own
    // continuous tool does, and joined by single blanks.
    QString decode(const QByteArray &pcm);

private:
    struct Private;
    explicit SpeechDecoder(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
