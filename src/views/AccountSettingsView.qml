import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tellwind.Core

SettingsViewForm {
    id: form

    required property SettingsWindow controller

    SettingsViewSection {
        title: qsTr("Account")
        visible: AuthManager.isAuthenticated

        RowLayout {
            ColumnLayout {
                spacing: 4
                Label {
                    Layout.fillWidth: true
                    text: qsTr("Signed in to your speech server as")
                    wrapMode: Text.WordWrap
                    font.pointSize: Theme.points(11)
                    color: form.secondaryColor
                }
                Label {
                    objectName: "accountEmail"
                    text: AuthManager.currentUser ? AuthManager.currentUser.email : qsTr("Signed In")
                    textFormat: Text.PlainText
                    font.pointSize: Theme.points(13)
                    font.bold: true
                }
            }
            Item { Layout.fillWidth: true }
        }
    }

    SettingsViewSection {
        visible: AuthManager.isAuthenticated

        Button {
            id: signOut
            objectName: "signOutButton"
            text: qsTr("Sign Out")
            Accessible.name: text
            Keys.onReturnPressed: clicked()
            Keys.onEnterPressed: clicked()
            contentItem: Text {
                Accessible.ignored: true
                text: signOut.text
                font: signOut.font
                color: "#d70015"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            onClicked: AuthManager.signOut()
        }
    }

    SettingsViewSection {
        title: qsTr("Account")
        visible: !AuthManager.isAuthenticated

        ColumnLayout {
            spacing: 12
            Layout.fillWidth: true
            Layout.topMargin: 8
            Layout.bottomMargin: 8

            Label {
                objectName: "accountPurpose"
                Layout.fillWidth: true
                text: qsTr("An account on your speech server lets Tellwind use server recognition when the server asks who you are. On-device recognition needs no account.")
                wrapMode: Text.WordWrap
                color: form.secondaryColor
            }
            Label {
                Layout.fillWidth: true
                text: qsTr("Signing in opens the server's sign-in page in your browser.")
                wrapMode: Text.WordWrap
                font.pointSize: Theme.points(11)
                color: form.secondaryColor
            }

            // The filled accent button of a primary action.
            Button {
                id: signIn
                objectName: "signInButton"
                text: qsTr("Sign In")
                Accessible.name: text
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                hoverEnabled: true
                leftPadding: 16
                rightPadding: 16
                contentItem: Text {
                    Accessible.ignored: true
                    text: signIn.text
                    font: signIn.font
                    color: "white"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    implicitHeight: 26
                    radius: 5
                    color: signIn.down ? Qt.darker(palette.highlight, 1.2)
                                       : signIn.hovered ? Qt.lighter(palette.highlight, 1.08) : palette.highlight
                    FocusRing { control: signIn }
                }
                onClicked: form.controller.openUrl(AuthManager.beginSignIn())
            }
        }
    }

    Label {
        objectName: "tokenStorageNote"
        visible: !AuthManager.tokenInKeyring
        Layout.fillWidth: true
        Layout.leftMargin: 4
        text: qsTr("No keyring answered, so your sign-in is kept in Tellwind's settings file, readable only by you.")
        wrapMode: Text.WordWrap
        font.pointSize: Theme.points(11)
        color: form.secondaryColor
    }
}
