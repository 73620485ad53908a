#pragma once

#include "DecoderPool.h"

#include <QMap>
#include <QObject>

#include <memory>

class TellwindServer;

// POST /api/speech?sampleRate=16000&languageCode=CODE with raw 16 kHz mono
// signed 16-bit little-endian PCM: answers {"type":"transcript","text":…,
// "isFinal":true}. Decoding runs in the decoder pool, never on the event loop.
class SpeechEndpoint : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maxBodyBytes = 10 * 1024 * 1024;

    SpeechEndpoint(TellwindServer &server, QObject *parent = nullptr);
    ~SpeechEndpoint() override;

    // False, with the reason, when the English model could not be loaded.
    bool isReady(QString *error) const { return m_pool->isReady(error); }
    int decoderCount() const { return m_pool->threadCount(); }

    // Debian's en-US model, and every complete model folder found under
    // DATA_DIR/models/<code>/ (acoustic-model/, language-model.lm.bin,
    // pronunciation.dict).
    static QMap<QString, SpeechModel> installedModels(const QString &dataDir);

private:
    std::unique_ptr<DecoderPool> m_pool;
};
