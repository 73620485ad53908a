#include "desktop/GlobalHotkeyManager.h"

#include "desktop/Hotkey.h"

#include "common/Log.h"
#include "common/Settings.h"

#include "platform/portal/GlobalShortcutsPortal.h"
#include "platform/x11/X11HotkeyGrab.h"

#include <QCoreApplication>
#include <QPointer>

GlobalHotkeyManager::GlobalHotkeyManager(
    std::unique_ptr<KeyMonitor> keyMonitor, SessionInfo session, QObject *parent)
    : QObject(parent)
    , m_keyMonitor(std::move(keyMonitor))
    , m_session(std::move(session))
{
    setIsEnabled(Settings::boolValue(QString::fromLatin1(enabledKey), true));
}

GlobalHotkeyManager::~GlobalHotkeyManager()
{
    unregisterHotkey();
}

void GlobalHotkeyManager::setIsEnabled(bool enabled)
{
    const bool changed = m_isEnabled != enabled;
    m_isEnabled = enabled;
    if (changed)
        emit isEnabledChanged(enabled);
    isEnabledDidChange();
}

void GlobalHotkeyManager::isEnabledDidChange()
{
    if (m_isEnabled)
        registerHotkey();
    else
        unregisterHotkey();
    Settings::setBool(QString::fromLatin1(enabledKey), m_isEnabled);
}

void GlobalHotkeyManager::start()
{
    if (!m_isEnabled)
        return;
    registerHotkey();
    qCInfo(lcApp).noquote()
        << QStringLiteral("🎹 Global hotkey manager started (%1)").arg(Hotkey::stored().displayText());
}

void GlobalHotkeyManager::registerHotkey()
{
    unregisterHotkey();
    QPointer<GlobalHotkeyManager> weakSelf(this);
    const Hotkey hotkey = Hotkey::stored();
    if (m_session.isWayland()) {
        // Raw key events through Xwayland come only while an X11 window has
        // the focus; the desktop's own shortcut service is the way here.
        if (!GlobalShortcutsPortal::isOffered()) {
            qCWarning(lcApp).noquote() << QStringLiteral(
                "⚠️ Global hotkey unavailable on this desktop: bind `tellwind --toggle` "
                "in its keyboard settings");
            setDesktopBinding(DesktopBinding::unavailable);
            return;
        }
        m_shortcutsPortal = std::make_unique<GlobalShortcutsPortal>();
        connect(
            m_shortcutsPortal.get(), &GlobalShortcutsPortal::activated, this, [weakSelf](const QString &id) {
                if (!weakSelf || id != QLatin1String(toggleShortcutId))
                    return;
                qCInfo(lcApp).noquote() << QStringLiteral("🎹 Hotkey triggered: desktop shortcut");
                if (weakSelf->onHotkeyPressed)
                    weakSelf->onHotkeyPressed();
            });
        // Shift + R is not offered to the desktop: taken from every
        // application it would stop the user typing a capital R.
        bindThroughDesktop(hotkey.isShiftR() ? QString::fromLatin1(portalTrigger) : hotkey.portalTrigger());
        qCInfo(lcApp).noquote() << QStringLiteral("✅ Global hotkey requested from the desktop");
        return;
    }
    if (!hotkey.isShiftR()) {
        m_grab = std::make_unique<X11HotkeyGrab>([weakSelf, text = hotkey.displayText()] {
            if (!weakSelf)
                return;
            qCInfo(lcApp).noquote() << QStringLiteral("🎹 Hotkey triggered: ") + text;
            if (weakSelf->onHotkeyPressed)
                weakSelf->onHotkeyPressed();
        });
        unsigned modifiers = 0;
        if (hotkey.shift())
            modifiers |= X11HotkeyGrab::shift;
        if (hotkey.control())
            modifiers |= X11HotkeyGrab::control;
        if (hotkey.alt())
            modifiers |= X11HotkeyGrab::alt;
        if (hotkey.super())
            modifiers |= X11HotkeyGrab::super;
        if (m_grab->grab(hotkey.keysym(), modifiers)) {
            qCInfo(lcApp).noquote() << QStringLiteral("✅ Global hotkey registered: ") + hotkey.displayText();
        } else {
            qCWarning(lcApp).noquote()
                << QStringLiteral("⚠️ Global hotkey not available: another program holds ")
                    + hotkey.displayText();
            m_grab.reset();
        }
        return;
    }
    m_eventMonitor = m_keyMonitor->addGlobalMonitor([weakSelf](const KeyEvent &event) {
        if (weakSelf)
            weakSelf->handleKeyEvent(event);
    });
    m_localEventMonitor = m_keyMonitor->addLocalMonitor([weakSelf](const KeyEvent &event) {
        if (weakSelf)
            weakSelf->handleKeyEvent(event);
    });
    qCInfo(lcApp).noquote() << QStringLiteral("✅ Global hotkey registered: Shift + R");
}

QCoro::Task<> GlobalHotkeyManager::bindThroughDesktop(QString trigger)
{
    QPointer<GlobalHotkeyManager> self(this);
    QPointer<GlobalShortcutsPortal> portal(m_shortcutsPortal.get());
    setDesktopBinding(DesktopBinding::pending);
    const std::optional<QString> bound = co_await portal->bind(QString::fromLatin1(toggleShortcutId),
        QCoreApplication::translate("GlobalHotkeyManager", "Start or stop dictation"), trigger);
    // A newer shortcut or a switch-off replaced the portal meanwhile.
    if (!self || !portal || portal != self->m_shortcutsPortal.get())
        co_return;
    if (!bound)
        qCWarning(lcDesktop).noquote()
            << "⚠️ Global hotkey unavailable on this desktop: bind `tellwind --toggle` "
               "in its keyboard settings";
    self->setDesktopBinding(
        bound ? DesktopBinding::bound : DesktopBinding::unavailable, bound.value_or(QString()));
}

void GlobalHotkeyManager::setDesktopBinding(DesktopBinding binding, const QString &trigger)
{
    if (m_desktopBinding == binding && m_desktopTrigger == trigger)
        return;
    m_desktopBinding = binding;
    m_desktopTrigger = trigger;
    emit hotkeyChanged();
}

void GlobalHotkeyManager::unregisterHotkey()
{
    m_shortcutsPortal.reset();
    setDesktopBinding(DesktopBinding::none);
    m_grab.reset();
    if (m_eventMonitor) {
        m_keyMonitor->removeMonitor(*m_eventMonitor);
        m_eventMonitor.reset();
    }
    if (m_localEventMonitor) {
        m_keyMonitor->removeMonitor(*m_localEventMonitor);
        m_localEventMonitor.reset();
    }
}

void GlobalHotkeyManager::handleKeyEvent(const KeyEvent &event)
{
    const quint32 flags = event.modifierFlags;
    const bool matches = (flags & KeyModifier::shift) && event.keyCode == KeyEvent::ansiR
        && (flags & KeyModifier::deviceIndependentMask) == KeyModifier::shift;
    if (!matches)
        return;
    qCInfo(lcApp).noquote() << QStringLiteral("🎹 Hotkey triggered: Shift + R");
    // Never from inside the monitor: the callback may start a whole dictation.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onHotkeyPressed)
                onHotkeyPressed();
        },
        Qt::QueuedConnection);
}

QString GlobalHotkeyManager::hotkeyText() const
{
    if (m_desktopBinding == DesktopBinding::bound)
        return m_desktopTrigger;
    return Hotkey::stored().displayText();
}

QString GlobalHotkeyManager::shortcutNote() const
{
    switch (m_desktopBinding) {
    case DesktopBinding::none:
        break;
    case DesktopBinding::pending:
        return tr("Asking your desktop to bind the shortcut…");
    case DesktopBinding::bound:
        return tr("Your desktop watches this shortcut for Tellwind; you can change it in your desktop's "
                  "keyboard settings.");
    case DesktopBinding::unavailable:
        return tr("Your desktop did not take the shortcut for Tellwind. Bind the command "
                  "\"tellwind --toggle\" to a key in your desktop's keyboard settings.");
    }
    return {};
}

bool GlobalHotkeyManager::isShiftR() const
{
    return Hotkey::stored().isShiftR();
}

bool GlobalHotkeyManager::recordHotkey(int key, int modifiers)
{
    const std::optional<Hotkey> hotkey = Hotkey::fromKey(key, modifiers);
    if (!hotkey)
        return false;
    // Stored even when it is the default: a later default must not change
    // what the user chose.
    Settings::setString(QString::fromLatin1(Hotkey::settingsKey), hotkey->sequence());
    emit hotkeyChanged();
    if (m_isEnabled)
        registerHotkey();
    return true;
}

void GlobalHotkeyManager::resetHotkey()
{
    recordHotkey(Qt::Key_R, Qt::ShiftModifier);
}
