#include "platform/PlatformStatus.h"

void PlatformStatus::setTypingBackend(const QString &name)
{
    if (m_typingBackend == name)
        return;
    m_typingBackend = name;
    emit typingBackendChanged();
}
