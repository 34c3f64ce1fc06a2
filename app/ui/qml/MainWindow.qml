import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// The main window: the menu bar, the sidebar and the pane the model selects. Closing it
// only hides it; Tolvane keeps running in the tray.
ApplicationWindow {
    id: window
    objectName: "mainWindow"
    title: "Tolvane"
    width: 940
    height: 640
    minimumWidth: 760
    minimumHeight: 520
    color: Theme.window
    font.pixelSize: Theme.fontSize
    // Switches, busy indicators and focus rings take the brand colour.
    palette.dark: Theme.tomato
    palette.highlight: Theme.tomato

    // Raised whenever the actions say their availability changed, so every item's
    // `enabled` binding asks again.
    property int availability: 0

    function allowed(name) {
        window.availability;
        return actions.isEnabled(name);
    }
    // The Edit menu acts on whichever text field has the focus, or on the row or card
    // that holds it (Copy copies a recording's link).
    function editFocused(operation) {
        for (let item = window.activeFocusItem; item; item = item.parent) {
            if (typeof item[operation] === "function") {
                item[operation]();
                return;
            }
        }
    }

    onClosing: close => {
        close.accepted = false;
        window.hide();
    }

    // Connected by hand: inside a Connections element `onEnabledChanged` would name the
    // element's own `enabled` property's signal.
    Component.onCompleted: actions.enabledChanged.connect(() => window.availability += 1)

    // A menu item that shows its key equivalent at the trailing edge.
    component KeyedItem: MenuItem {
        id: keyedItem
        contentItem: RowLayout {
            spacing: 24
            Label {
                Layout.fillWidth: true
                text: keyedItem.text
                font: keyedItem.font
                color: keyedItem.enabled ? Theme.text : Theme.secondaryText
            }
            Label {
                visible: text !== ""
                text: keyedItem.action && keyedItem.action.shortcut ? String(keyedItem.action.shortcut) : ""
                font: keyedItem.font
                color: Theme.secondaryText
            }
        }
    }

    menuBar: MenuBar {
        objectName: "menuBar"
        background: Rectangle {
            implicitHeight: 30
            color: Theme.sidebar
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.border
            }
        }

        Menu {
            title: "Tolvane"
            KeyedItem {
                action: Action {
                    objectName: "menu-about"
                    text: "About Tolvane"
                    enabled: window.allowed("about")
                    onTriggered: actions.trigger("about")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    objectName: "menu-check-for-updates"
                    text: "Check for Updates\u2026"
                    enabled: window.allowed("check-for-updates")
                    onTriggered: actions.trigger("check-for-updates")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    objectName: "menu-open-web-library"
                    text: "My Recordings on the Web"
                    enabled: window.allowed("open-web-library")
                    onTriggered: actions.trigger("open-web-library")
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-open-vault-folder"
                    text: "Open Recordings Folder"
                    enabled: window.allowed("open-vault-folder")
                    onTriggered: actions.trigger("open-vault-folder")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    id: openAtLogin
                    objectName: "menu-open-at-login"
                    text: "Open at Login"
                    checkable: true
                    checked: actions.openAtLogin
                    enabled: window.allowed("open-at-login")
                    onTriggered: {
                        actions.trigger("open-at-login");
                        // The autostart entry is the truth, whatever the click toggled.
                        openAtLogin.checked = Qt.binding(() => actions.openAtLogin);
                    }
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-sign-out"
                    text: "Sign Out"
                    enabled: window.allowed("sign-out")
                    onTriggered: actions.trigger("sign-out")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    objectName: "menu-quit"
                    text: "Quit Tolvane"
                    shortcut: "Ctrl+Q"
                    enabled: window.allowed("quit")
                    onTriggered: actions.trigger("quit")
                }
            }
        }

        Menu {
            title: "Record"
            KeyedItem {
                action: Action {
                    objectName: "menu-start-recording"
                    text: "Start Recording"
                    shortcut: "Ctrl+Alt+R"
                    enabled: window.allowed("start-recording")
                    onTriggered: actions.trigger("start-recording")
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-stop-recording"
                    text: "Stop Recording"
                    shortcut: "Ctrl+Alt+Shift+R"
                    enabled: window.allowed("stop-recording")
                    onTriggered: actions.trigger("stop-recording")
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-toggle-pause"
                    text: "Pause / Resume"
                    enabled: window.allowed("toggle-pause")
                    onTriggered: actions.trigger("toggle-pause")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    objectName: "menu-toggle-drawing"
                    text: "Draw on Screen"
                    shortcut: "Ctrl+Alt+D"
                    enabled: window.allowed("toggle-drawing")
                    onTriggered: actions.trigger("toggle-drawing")
                }
            }
        }

        Menu {
            title: "Edit"
            KeyedItem {
                action: Action {
                    text: "Undo"
                    shortcut: "Ctrl+Z"
                    onTriggered: window.editFocused("undo")
                }
            }
            KeyedItem {
                action: Action {
                    text: "Redo"
                    shortcut: "Ctrl+Shift+Z"
                    onTriggered: window.editFocused("redo")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    text: "Cut"
                    shortcut: "Ctrl+X"
                    onTriggered: window.editFocused("cut")
                }
            }
            KeyedItem {
                action: Action {
                    text: "Copy"
                    shortcut: "Ctrl+C"
                    onTriggered: window.editFocused("copy")
                }
            }
            KeyedItem {
                action: Action {
                    text: "Paste"
                    shortcut: "Ctrl+V"
                    onTriggered: window.editFocused("paste")
                }
            }
            KeyedItem {
                action: Action {
                    text: "Select All"
                    shortcut: "Ctrl+A"
                    onTriggered: window.editFocused("selectAll")
                }
            }
        }

        Menu {
            title: "Window"
            KeyedItem {
                action: Action {
                    objectName: "menu-show-record"
                    text: "Tolvane"
                    shortcut: "Ctrl+0"
                    enabled: window.allowed("show-record")
                    onTriggered: actions.trigger("show-record")
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-show-library"
                    text: "My Recordings"
                    shortcut: "Ctrl+1"
                    enabled: window.allowed("show-library")
                    onTriggered: actions.trigger("show-library")
                }
            }
            KeyedItem {
                action: Action {
                    objectName: "menu-show-local"
                    text: "On This Computer"
                    shortcut: "Ctrl+2"
                    enabled: window.allowed("show-local")
                    onTriggered: actions.trigger("show-local")
                }
            }
            MenuSeparator {}
            KeyedItem {
                action: Action {
                    text: "Minimise"
                    shortcut: "Ctrl+M"
                    onTriggered: window.showMinimized()
                }
            }
            KeyedItem {
                action: Action {
                    text: "Close"
                    shortcut: "Ctrl+W"
                    onTriggered: window.close()
                }
            }
        }

        Menu {
            title: "Help"
            KeyedItem {
                action: Action {
                    objectName: "menu-open-help"
                    text: "Tolvane Help"
                    shortcut: "F1"
                    enabled: window.allowed("open-help")
                    onTriggered: actions.trigger("open-help")
                }
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            Layout.fillHeight: true
            Layout.preferredWidth: 236
        }

        Loader {
            id: paneLoader
            objectName: "paneLoader"
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: {
                switch (model.mainPane) {
                case "review": return reviewPane;
                case "library": return libraryPane;
                case "local": return localPane;
                }
                return recordPane;
            }
            onLoaded: entrance.restart()

            NumberAnimation {
                id: entrance
                target: paneLoader.item
                property: "opacity"
                from: 0
                to: 1
                duration: Theme.enterDuration
                easing.type: Easing.OutCubic
            }
        }
    }

    Component {
        id: recordPane
        RecordPane {}
    }
    Component {
        id: reviewPane
        ReviewPane {}
    }
    Component {
        id: libraryPane
        LibraryPane {}
    }
    Component {
        id: localPane
        LocalPane {}
    }
}
