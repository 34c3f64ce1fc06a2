pragma Singleton
import QtQuick

// The one small theme every view uses: the brand colours, a light neutral palette, the
// type scale and the timing of the pane and card entrances.
QtObject {
    readonly property color tomato: Qt.rgba(1.0, 0.384, 0.314, 1)
    readonly property color recordRed: Qt.rgba(0.93, 0.23, 0.2, 1)
    readonly property color success: "#2e9e5b"
    readonly property color warning: "#d9822b"
    readonly property color info: "#3b7ddd"

    readonly property color window: "#f6f6f4"
    readonly property color sidebar: "#ecebe8"
    readonly property color card: "#ffffff"
    readonly property color border: "#dcdad6"
    readonly property color text: "#1d1d1f"
    readonly property color secondaryText: "#6e6e73"
    readonly property color selection: Qt.rgba(1.0, 0.384, 0.314, 0.16)

    readonly property int radius: 10
    readonly property int spacing: 12
    readonly property int fontSize: 13
    readonly property int smallFontSize: 11
    readonly property int titleFontSize: 20

    // Every pane's column: the same margin, widest width and gap between its sections,
    // so that switching panes never moves the title.
    readonly property int paneMargin: 28
    readonly property int paneMaxWidth: 720
    readonly property int paneSpacing: 16

    // Panes and cards come in with a short ease-out.
    readonly property int enterDuration: 180
}
