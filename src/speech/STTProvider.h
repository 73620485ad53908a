#pragma once

#include <QObject>
#include <QString>

// Which recognition path a session uses.
namespace STTProviders
{
Q_NAMESPACE
enum class STTProvider { onDevice, server };
Q_ENUM_NS(STTProvider)
} // namespace STTProviders

using STTProviders::STTProvider;

// "On-device" or "Server": the names the log lines and the
// panel use.
inline QString rawValue(STTProvider provider)
{
    return provider == STTProvider::onDevice ? QStringLiteral("On-device") : QStringLiteral("Server");
}
