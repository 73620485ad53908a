#include "platform/KeyMonitor.h"

#include "common/Log.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/x11/X11KeyMonitor.h"

#include <QGuiApplication>

namespace {

class NullKeyMonitor : public KeyMonitor
{
public:
    std::optional<Handle> addGlobalMonitor(Handler) override { return std::nullopt; }
    std::optional<Handle> addLocalMonitor(Handler) override { return std::nullopt; }
    void removeMonitor(Handle) override { }
};

} // namespace

std::unique_ptr<KeyMonitor> KeyMonitor::createSystemMonitor()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return std::make_unique<X11KeyMonitor>(SyntheticKeyLog::shared());
    logLine(QStringLiteral("⚠️ Key monitor unavailable: not an X11 session (%1)")
                .arg(QGuiApplication::platformName()));
    return std::make_unique<NullKeyMonitor>();
}
