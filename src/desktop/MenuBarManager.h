#pragma once

#include "platform/StatusBar.h"

#include <QObject>

#include <functional>
#include <memory>

class QMenu;

// The tray item: a microphone that turns red while dictation runs, with a
// menu to toggle dictation, show the panel, choose the language, open the
// settings and quit. It knows nothing of dictation; the application fills the
// callbacks and tells it the recording state.
class MenuBarManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording WRITE setIsRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)

public:
    static constexpr const char *enabledKey = "menuBarEnabled";

    explicit MenuBarManager(std::unique_ptr<StatusBar> statusBar, QObject *parent = nullptr);
    ~MenuBarManager() override;

    bool isRecording() const { return m_isRecording; }
    // Every assignment redraws the icon.
    void setIsRecording(bool recording);
    bool isEnabled() const { return m_isEnabled; }
    // Every assignment shows or removes the item and stores the value.
    void setIsEnabled(bool enabled);

    bool hasStatusItem() const { return m_statusItem != nullptr; }
    QMenu *menu() const { return m_menu.get(); }

    // Makes the item when shown and none exists yet.
    void createStatusItem();
    void removeStatusItem();
    void updateIcon();
    void setupMenu();
    void updateMenu();
    // The recording state, the icon and the first entry in one step.
    void showRecordingState(bool recording);
    void statusItemClicked(StatusItem::Click click);

    void toggleRecording();
    void showWindow();
    void chooseLanguage();
    void openSettings();
    void quit();

    std::function<void()> onToggleRecording;
    std::function<void()> onShowWindow;
    std::function<void()> onChooseLanguage;
    std::function<void()> onOpenSettings;
    std::function<void()> onQuit;

signals:
    void isRecordingChanged(bool value);
    void isEnabledChanged(bool value);

private:
    std::unique_ptr<StatusBar> m_statusBar;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    bool m_isRecording = false;
    bool m_isEnabled = true;
};
