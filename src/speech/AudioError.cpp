#include "speech/AudioError.h"

QString AudioError::errorDescription() const
{
    switch (m_code) {
    case Code::engineInitializationFailed:
        return QStringLiteral("Failed to initialize audio engine");
    case Code::inputNodeNotAvailable:
        return QStringLiteral("Audio input not available");
    case Code::formatCreationFailed:
        return QStringLiteral("Failed to create audio format");
    case Code::recordingFailed:
        return QStringLiteral("Recording failed");
    case Code::engineStartFailed:
        return m_engineMessage.isEmpty() ? QStringLiteral("Recording failed") : m_engineMessage;
    }
    return QStringLiteral("Recording failed");
}
