#pragma once

#include <QObject>
#include <QString>

// Which recognition path a session uses.
namespace STTProviders
{
Q_NAMESPACE
enum class STTProvider { apple, google };
Q_ENUM_NS(STTProvider)
} // namespace STTProviders

using STTProviders::STTProvider;

// "Apple" (on-device) or "Google" (cloud): the names the log lines and the
// panel use.
inline QString rawValue(STTProvider provider)
{
    return provider == STTProvider::apple ? QStringLiteral("Apple") : QStringLiteral("Google");
}
