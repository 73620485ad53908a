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
        case 0: return qsTr("Tellwind will not launch at login")
        case 1: return qsTr("Tellwind will launch when you log in")
        case 2: return qsTr("Requires approval in your desktop's settings")
        case 3: return qsTr("Service not found")
        }
        return qsTr("Unknown status")
    }

    onVisibleChanged: if (visible) refreshStatus()
    Window.onActiveChanged: if (Window.active) refreshStatus()

    Connections {
        target: LaunchAtLoginManager
        function onIsEnabledChanged() { Qt.callLater(form.refreshStatus) }
    }

    SettingsViewSection {
        title: qsTr("Startup")

        SettingsViewToggle {
            objectName: "launchAtLoginToggle"
            text: qsTr("Launch Tellwind at login")
            checked: LaunchAtLoginManager.isEnabled
            onToggled: value => LaunchAtLoginManager.isEnabled = value
        }
        Label {
            objectName: "loginStatus"
            text: form.statusText(form.loginStatus)
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }

    SettingsViewSection {
        title: qsTr("System Tray")

        SettingsViewToggle {
            objectName: "menuBarToggle"
            text: qsTr("Show icon in the system tray")
            checked: MenuBarManager.isEnabled
            onToggled: value => MenuBarManager.isEnabled = value
        }
        Label {
            Layout.fillWidth: true
            text: qsTr("Access Tellwind from the system tray even when the window is hidden.")
            wrapMode: Text.WordWrap
            font.pointSize: Theme.points(11)
            color: form.secondaryColor
        }
    }
}
