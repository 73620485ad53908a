#include "speech/AudioError.h"

#include <QCoreApplication>

QString AudioError::errorDescription() const
{
    switch (m_code) {
    case Code::engineInitializationFailed:
        return QCoreApplication::translate("AudioError", "Failed to initialize audio engine");
    case Code::inputNodeNotAvailable:
        return QCoreApplication::translate("AudioError", "Audio input not available");
    case Code::formatCreationFailed:
        return QCoreApplication::translate("AudioError", "Failed to create audio format");
    case Code::recordingFailed:
        return QCoreApplication::translate("AudioError", "Recording failed");
    case Code::engineStartFailed:
        return m_engineMessage.isEmpty() ? QCoreApplication::translate("AudioError", "Recording failed")
                                         : m_engineMessage;
    }
    return QCoreApplication::translate("AudioError", "Recording failed");
}
