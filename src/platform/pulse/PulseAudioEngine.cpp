#include "platform/pulse/PulseAudioEngine.h"

struct PulseAudioEngine::Private {
};

PulseAudioEngine::PulseAudioEngine() : d(std::make_unique<Private>()) { }

PulseAudioEngine::~PulseAudioEngine() = default;

AudioEngineFactory PulseAudioEngine::factory()
{
    return [] { return std::make_unique<PulseAudioEngine>(); };
}

bool PulseAudioEngine::hasInputNode() const
{
    return false;
}

AudioFormat PulseAudioEngine::inputFormat() const
{
    return {};
}

void PulseAudioEngine::installTap(quint32, Tap) { }

void PulseAudioEngine::removeTap() { }

std::optional<QString> PulseAudioEngine::start()
{
    return QStringLiteral("PulseAudio capture is not available");
}

void PulseAudioEngine::stop() { }

QString PulseAudioEngine::sourceName() const
{
    return {};
}
