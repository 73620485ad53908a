import QtQuick
import QtQuick.Window
import Tellwind.Core

// Presents the walk-through over the floating panel while the manager says
// so. Closing it in any way (the finish button or the window manager) ends
// it for this run; only the finish button records it for good.
Window {
    id: sheet
    objectName: "onboardingSheet"

    title: qsTr("Welcome to Tellwind")
    flags: Qt.Dialog | Qt.WindowStaysOnTopHint
    modality: Qt.WindowModal
    width: Theme.scaled(500)
    // Never taller than its screen: the pages keep their buttons in reach.
    height: Math.min(Theme.scaled(570), Screen.height - 40)
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: palette.window
    visible: OnboardingManager.shouldShowOnboarding

    // Centred over the panel it belongs to, kept on that panel's screen.
    function place() {
        const parentWindow = sheet.transientParent
        const area = sheet.Screen
        let x = area.virtualX + (area.width - width) / 2
        let y = area.virtualY + (area.height - height) / 2
        if (parentWindow && parentWindow.visible) {
            x = parentWindow.x + (parentWindow.width - width) / 2
            y = parentWindow.y + (parentWindow.height - height) / 2
        }
        sheet.x = Math.max(area.virtualX, Math.min(x, area.virtualX + area.width - width))
        sheet.y = Math.max(area.virtualY, Math.min(y, area.virtualY + area.height - height))
    }

    onVisibleChanged: {
        if (visible) {
            place()
            requestActivate()
        } else if (OnboardingManager.shouldShowOnboarding) {
            OnboardingManager.shouldShowOnboarding = false
        }
    }

    // A new walk-through each time it is shown: first page, flags re-read.
    Loader {
        anchors.fill: parent
        focus: true
        active: sheet.visible
        sourceComponent: OnboardingView {}
        onLoaded: (item as OnboardingView).dismiss.connect(sheet.close)
    }
}
