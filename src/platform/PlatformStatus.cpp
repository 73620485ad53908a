#include "platform/PlatformStatus.h"

PlatformStatus &PlatformStatus::instance()
{
    static PlatformStatus *status = new PlatformStatus; // read by QML until the very end
    return *status;
}

void PlatformStatus::setTypingBackend(const QString &name)
{
    if (m_typingBackend == name)
        return;
    m_typingBackend = name;
    emit typingBackendChanged();
}
