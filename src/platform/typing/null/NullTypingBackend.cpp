#include "platform/typing/null/NullTypingBackend.h"

#include "common/Log.h"

NullTypingBackend::NullTypingBackend(QString reason)
    : m_reason(std::move(reason))
{
}

bool NullTypingBackend::canSynthesizeInput()
{
    qCWarning(lcPlatform).noquote() << "Cannot type:" << m_reason;
    return false;
}

QCoro::Task<TypingResult> NullTypingBackend::refuse()
{
    co_return TypingResult::failed(m_reason);
}

QCoro::Task<TypingResult> NullTypingBackend::typeText(QString)
{
    return refuse();
}

QCoro::Task<TypingResult> NullTypingBackend::erase(int)
{
    return refuse();
}

QCoro::Task<TypingResult> NullTypingBackend::pressKey(KeyChord)
{
    return refuse();
}

QCoro::Task<TypingResult> NullTypingBackend::pasteText(QString)
{
    return refuse();
}
