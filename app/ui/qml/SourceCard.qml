import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvane.Ui

// "What to record": the screen or window, the microphone, the camera bubble and the
// system sound. Every change is written to the model, which remembers it; nothing here
// holds a choice of its own.
Card {
    id: card
    // Named once: inside a ComboBox `model` means the box's own list.
    readonly property var recording: model.recording
    readonly property bool idle: recording.phaseText === "idle"

    // Displays first, then a "Windows" heading over the windows.
    readonly property var targetEntries: {
        const entries = [];
        for (const display of recording.displays)
            entries.push({ id: display.id, label: display.label, header: false });
        if (recording.windows.length > 0) {
            entries.push({ id: "", label: "Windows", header: true });
            for (const window of recording.windows)
                entries.push({ id: window.id, label: window.label, header: false });
        }
        return entries;
    }

    function indexOfID(list, id) {
        for (let i = 0; i < list.length; ++i) {
            if (!list[i].header && list[i].id === id)
                return i;
        }
        return -1;
    }

    objectName: "sourceCard"

    Label {
        text: "What to record"
        color: Theme.text
        font.pixelSize: 15
        font.weight: Font.DemiBold
    }

    GridLayout {
        Layout.fillWidth: true
        columns: 3
        columnSpacing: 12
        rowSpacing: 8

        Label {
            text: "Record"
            color: Theme.secondaryText
        }
        Picker {
            id: targetPicker
            objectName: "targetPicker"
            Layout.fillWidth: true
            Layout.columnSpan: 2
            enabled: card.idle && card.targetEntries.length > 0
            model: card.targetEntries
            textRole: "label"
            currentIndex: card.indexOfID(card.targetEntries, card.recording.selectedTargetID)
            displayText: currentIndex < 0 ? "Pick a screen or window" : currentText
            Accessible.name: "Record"
            delegate: ItemDelegate {
                required property var modelData
                required property int index
                width: ListView.view ? ListView.view.width : implicitWidth
                text: modelData.label
                enabled: !modelData.header
                highlighted: targetPicker.highlightedIndex === index
                font.pixelSize: modelData.header ? Theme.smallFontSize : Theme.fontSize
                font.weight: modelData.header ? Font.DemiBold : Font.Normal
            }
            onActivated: index => {
                card.recording.selectedTargetID = card.targetEntries[index].id;
                currentIndex = Qt.binding(() => card.indexOfID(card.targetEntries, card.recording.selectedTargetID));
            }
        }

        Label {
            text: "Microphone"
            color: Theme.secondaryText
        }
        Picker {
            id: microphonePicker
            objectName: "microphonePicker"
            Layout.fillWidth: true
            enabled: card.idle && microphoneSwitch.checked
            model: card.recording.microphones
            textRole: "name"
            currentIndex: card.indexOfID(card.recording.microphones, card.recording.selectedMicrophoneID)
            displayText: card.recording.selectedMicrophoneID === "" ? "No microphone" : currentText
            Accessible.name: "Microphone"
            onActivated: index => {
                card.recording.selectedMicrophoneID = card.recording.microphones[index].id;
                currentIndex = Qt.binding(() => card.indexOfID(card.recording.microphones,
                                                               card.recording.selectedMicrophoneID));
            }
        }
        Switch {
            id: microphoneSwitch
            objectName: "microphoneSwitch"
            topPadding: 0
            bottomPadding: 0
            // Its track ends where the pickers above end.
            rightPadding: 0
            enabled: card.idle && card.recording.microphones.length > 0
            checked: card.recording.selectedMicrophoneID !== ""
            Accessible.name: "Use the microphone"
            onToggled: {
                const list = card.recording.microphones;
                card.recording.selectedMicrophoneID = checked && list.length > 0 ? list[0].id : "";
                checked = Qt.binding(() => card.recording.selectedMicrophoneID !== "");
            }
        }

        Label {
            text: "Camera bubble"
            color: Theme.secondaryText
        }
        Picker {
            id: cameraPicker
            objectName: "cameraPicker"
            Layout.fillWidth: true
            enabled: card.idle && cameraSwitch.checked
            model: card.recording.cameras
            textRole: "name"
            currentIndex: card.indexOfID(card.recording.cameras, card.recording.selectedCameraID)
            displayText: card.recording.selectedCameraID === "" ? "No camera bubble" : currentText
            Accessible.name: "Camera bubble"
            onActivated: index => {
                card.recording.selectedCameraID = card.recording.cameras[index].id;
                currentIndex = Qt.binding(() => card.indexOfID(card.recording.cameras,
                                                               card.recording.selectedCameraID));
            }
        }
        Switch {
            id: cameraSwitch
            objectName: "cameraSwitch"
            topPadding: 0
            bottomPadding: 0
            // Its track ends where the pickers above end.
            rightPadding: 0
            enabled: card.idle && card.recording.cameras.length > 0
            checked: card.recording.selectedCameraID !== ""
            Accessible.name: "Show the camera bubble"
            onToggled: {
                const list = card.recording.cameras;
                card.recording.selectedCameraID = checked && list.length > 0 ? list[0].id : "";
                checked = Qt.binding(() => card.recording.selectedCameraID !== "");
            }
        }
    }

    Switch {
        objectName: "systemAudioSwitch"
        Layout.leftMargin: -6
        topPadding: 2
        bottomPadding: 0
        enabled: card.idle
        text: "Record system audio"
        checked: card.recording.includeSystemAudio
        onToggled: {
            card.recording.includeSystemAudio = checked;
            checked = Qt.binding(() => card.recording.includeSystemAudio);
        }
    }
}
