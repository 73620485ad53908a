import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    // The desktop's answer, read afresh whenever the tab is shown again or
    // the toggle has changed (after the change is done, not while it runs).
    property int loginStatus: LaunchAtLoginManager.status()

    function refreshStatus() {
        loginStatus = LaunchAtLoginManager.status()
    }

    function statusText(status) {
        switch (status) {
        case 0: return "Tellwind will not launch at login"
        case 1: return "Tellwind will launch when you log in"
        case 2: return "Requires approval in System Settings"
        case 3: return "Service not found"
        }
        return "Unknown status"
    }

    onVisibleChanged: if (visible) refreshStatus()
    Window.onActiveChanged: if (Window.active) refreshStatus()

    Connections {
        target: LaunchAtLoginManager
        function onIsEnabledChanged() { Qt.callLater(form.refreshStatus) }
    }

    SettingsViewSection {
        title: "Startup"

        SettingsViewToggle {
            objectName: "launchAtLoginToggle"
            text: "Launch Tellwind at login"
            checked: LaunchAtLoginManager.isEnabled
            onToggled: value => LaunchAtLoginManager.isEnabled = value
        }
        Label {
            objectName: "loginStatus"
            text: form.statusText(form.loginStatus)
            font.pixelSize: 11
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("Typing")

        Label {
            objectName: "typingBackend"
            Layout.fillWidth: true
            text: qsTr("Typing: %1").arg(PlatformStatus.typingBackend)
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: "Menu Bar"

        SettingsViewToggle {
            objectName: "menuBarToggle"
            text: "Show icon in menu bar"
            checked: MenuBarManager.isEnabled
            onToggled: value => MenuBarManager.isEnabled = value
        }
        Label {
            Layout.fillWidth: true
            text: "Access Tellwind from the menu bar even when the window is hidden."
            wrapMode: Text.WordWrap
            font.pixelSize: 11
            color: form.secondaryColor
        }
    }
}
