#include "platform/KeyMonitor.h"

#include "common/Log.h"
#include "platform/SessionInfo.h"
#include "platform/SyntheticKeyLog.h"
#include "platform/x11/X11KeyMonitor.h"

#include <QGuiApplication>

namespace
{

class NullKeyMonitor : public KeyMonitor
{
public:
    std::optional<Handle> addGlobalMonitor(Handler) override { return std::nullopt; }
    std::optional<Handle> addLocalMonitor(Handler) override { return std::nullopt; }
    void removeMonitor(Handle) override { }
};

} // namespace

std::unique_ptr<KeyMonitor> KeyMonitor::createSystemMonitor(const SessionInfo &session, SyntheticKeyLog &sent)
{
    // Through Xwayland the raw events come only while an X11 window has the
    // focus: a hotkey that works now and then is worse than none.
    if (session.isWayland()) {
        qCInfo(lcPlatform) << "Key monitor: none on a Wayland session (shortcuts come from the desktop)";
        return std::make_unique<NullKeyMonitor>();
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        qCInfo(lcPlatform) << "Key monitor: XInput2 raw key events";
        return std::make_unique<X11KeyMonitor>(sent);
    }
    qCWarning(lcApp).noquote() << QStringLiteral("⚠️ Key monitor unavailable: not an X11 session (%1)")
                                      .arg(QGuiApplication::platformName());
    return std::make_unique<NullKeyMonitor>();
}
