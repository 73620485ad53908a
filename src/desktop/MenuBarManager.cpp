#include "desktop/MenuBarManager.h"

#include "common/Log.h"
#include "common/Settings.h"
#include "desktop/MicrophoneIcon.h"
#include "platform/qt/QtStatusBar.h"

#include <QMenu>
#include <QPointer>

namespace
{
const QColor systemRed(0xFF, 0x3B, 0x30);
const QString toggleActionName = QStringLiteral("toggleRecording");
} // namespace

MenuBarManager::MenuBarManager(std::unique_ptr<StatusBar> statusBar, QObject *parent)
    : QObject(parent)
    , m_statusBar(std::move(statusBar))
{
    setIsEnabled(Settings::boolValue(QString::fromLatin1(enabledKey), true));
}

MenuBarManager::~MenuBarManager()
{
    // The item refers to the menu; it goes first.
    m_statusItem.reset();
}

void MenuBarManager::setIsRecording(bool recording)
{
    const bool changed = m_isRecording != recording;
    m_isRecording = recording;
    if (changed)
        emit isRecordingChanged(recording);
    updateIcon();
}

void MenuBarManager::setIsEnabled(bool enabled)
{
    const bool changed = m_isEnabled != enabled;
    m_isEnabled = enabled;
    if (changed)
        emit isEnabledChanged(enabled);
    if (enabled)
        createStatusItem();
    else
        removeStatusItem();
    Settings::setBool(QString::fromLatin1(enabledKey), enabled);
}

void MenuBarManager::createStatusItem()
{
    if (!m_isEnabled || m_statusItem)
        return;
    if (!m_statusBar->isAvailable())
        qCWarning(lcApp).noquote() << QStringLiteral(
            "⚠️ No system tray found; the menu bar icon appears once one starts");
    m_statusItem = m_statusBar->statusItem();
    updateIcon();
    QPointer<MenuBarManager> weakSelf(this);
    m_statusItem->setClickHandler([weakSelf](StatusItem::Click click) {
        if (weakSelf)
            weakSelf->statusItemClicked(click);
    });
    setupMenu();
    qCInfo(lcApp).noquote() << QStringLiteral("📍 Menubar icon created");
}

void MenuBarManager::removeStatusItem()
{
    if (!m_statusItem)
        return;
    m_statusItem.reset();
    qCInfo(lcApp).noquote() << QStringLiteral("📍 Menubar icon removed");
}

void MenuBarManager::updateIcon()
{
    if (!m_statusItem)
        return;
    m_statusItem->setImage(
        microphoneIcon(m_isRecording, m_isRecording ? std::optional(systemRed) : std::nullopt),
        QStringLiteral("Tellwind"));
}

void MenuBarManager::setupMenu()
{
    // No shortcut hints: the panel never takes the keyboard focus, so a key
    // shown here could never reach these entries, and the global shortcut is
    // the user's own choice.
    auto menu = std::make_unique<QMenu>();
    QAction *toggle = menu->addAction(QString(), this, &MenuBarManager::toggleRecording);
    toggle->setObjectName(toggleActionName);
    menu->addSeparator();
    menu->addAction(tr("Show Panel"), this, &MenuBarManager::showWindow);
    // The panel never takes keyboard focus; this is the keyboard's way to the picker.
    menu->addAction(tr("Choose Language…"), this, &MenuBarManager::chooseLanguage);
    menu->addAction(tr("Settings…"), this, &MenuBarManager::openSettings);
    menu->addSeparator();
    menu->addAction(tr("Quit Tellwind"), this, &MenuBarManager::quit);
    if (m_statusItem)
        m_statusItem->setMenu(menu.get());
    m_menu = std::move(menu);
    updateMenu();
}

void MenuBarManager::updateMenu()
{
    if (!m_menu)
        return;
    for (QAction *action : m_menu->actions()) {
        if (action->objectName() == toggleActionName) {
            action->setText(m_isRecording ? tr("Stop Dictation") : tr("Start Dictation"));
            return;
        }
    }
}

void MenuBarManager::showRecordingState(bool recording)
{
    setIsRecording(recording);
    updateIcon();
    updateMenu();
}

void MenuBarManager::statusItemClicked(StatusItem::Click click)
{
    if (click == StatusItem::Click::left && onToggleRecording)
        onToggleRecording();
}

void MenuBarManager::toggleRecording()
{
    if (onToggleRecording)
        onToggleRecording();
}

void MenuBarManager::showWindow()
{
    if (onShowWindow)
        onShowWindow();
}

void MenuBarManager::chooseLanguage()
{
    if (onChooseLanguage)
        onChooseLanguage();
}

void MenuBarManager::openSettings()
{
    if (onOpenSettings)
        onOpenSettings();
}

void MenuBarManager::quit()
{
    if (onQuit)
        onQuit();
}
