import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    required property QtObject controller
    readonly property string websiteURL: AuthManager.baseURL + "/auth/login?returnTo=/auth/account"

    SettingsViewSection {
        title: "Account"
        visible: AuthManager.isAuthenticated

        RowLayout {
            ColumnLayout {
                spacing: 4
                Label {
                    objectName: "accountEmail"
                    text: AuthManager.currentUser ? AuthManager.currentUser.email : "Signed In"
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    font.bold: true
                }
            }
            Item { Layout.fillWidth: true }
        }
    }

    SettingsViewSection {
        visible: AuthManager.isAuthenticated

        Button {
            objectName: "signOutButton"
            text: "Sign Out"
            palette.buttonText: "#d70015"
            onClicked: AuthManager.signOut()
        }
    }

    SettingsViewSection {
        title: "Account"
        visible: !AuthManager.isAuthenticated

        ColumnLayout {
            spacing: 12
            Layout.topMargin: 8
            Layout.bottomMargin: 8

            Button {
                objectName: "signInButton"
                text: "Sign In"
                highlighted: true
                palette.button: palette.highlight
                palette.buttonText: palette.highlightedText
                onClicked: form.controller.openUrl(form.websiteURL)
            }
        }
    }
}
