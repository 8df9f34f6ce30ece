// Velbrin's panel in Shotcut: the settings dialog's own controls. Level
// 0..400 and Dynamic 0..10 are whole numbers, as in the dialog, and reach the
// plug-in as Level / 400 and Dynamic / 10 (it takes round(value x 400) and
// round(value x 10), so each whole number comes back exactly); Show noise,
// Disable and Auto are its switches (1 on, 0 off). While Auto is on the
// plug-in sets Level and Dynamic for each frame from the noise it measures,
// so their controls are shown disabled. Level and Dynamic take keyframes and
// Shotcut's simple fade-in and fade-out keyframes; between keyframes the
// plug-in rounds the value it is given. The scales and defaults are
// engine/setting_ranges.h's; tests/frei0r/editor_descriptions_test.cpp checks
// them against it.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    // The plug-in's parameters, by index, and the dialog's scales.
    property string level: '0'
    property string dynamic: '1'
    property string showNoise: '2'
    property string disable: '3'
    property string autoStrength: '4'
    property int levelScale: 400
    property int dynamicScale: 10
    property int levelDefault: 100
    property int dynamicDefault: 5

    function setControls() {
        setKeyframableControls();
        showNoiseCheckBox.checked = filter.getDouble(showNoise) >= 0.5;
        disableCheckBox.checked = filter.getDouble(disable) >= 0.5;
        autoCheckBox.checked = filter.getDouble(autoStrength) >= 0.5;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        levelSlider.value = filter.getDouble(level, position) * levelScale;
        levelKeyframesButton.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(level) > 0;
        dynamicSlider.value = filter.getDouble(dynamic, position) * dynamicScale;
        dynamicKeyframesButton.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(dynamic) > 0;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        levelSlider.enabled = dynamicSlider.enabled = enabled && !autoCheckBox.checked;
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
        updateFilter(level, levelSlider.value / levelScale, levelKeyframesButton, null);
        updateFilter(dynamic, dynamicSlider.value / dynamicScale, dynamicKeyframesButton, null);
    }

    keyframableParameters: [level, dynamic]
    startValues: [levelDefault / levelScale, dynamicDefault / dynamicScale]
    middleValues: [levelDefault / levelScale, dynamicDefault / dynamicScale]
    endValues: [levelDefault / levelScale, dynamicDefault / dynamicScale]
    width: 350
    height: 180
    Component.onCompleted: {
        if (filter.isNew) {
            filter.set(level, levelDefault / levelScale);
            filter.set(dynamic, dynamicDefault / dynamicScale);
            filter.set(showNoise, 0);
            filter.set(disable, 0);
            filter.set(autoStrength, 0);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }

    GridLayout {
        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: [level, dynamic, showNoise, disable, autoStrength]
            Layout.columnSpan: 3
            onBeforePresetLoaded: {
                resetSimpleKeyframes();
            }
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr('Level')
            Layout.alignment: Qt.AlignRight

            Shotcut.HoverTip {
                text: qsTr('Brightness tolerance, 0 to 400: larger smooths more.\nAbout 21 x the noise\'s standard deviation (on the 0..255 scale) suits it:\n100 for light noise (5), 210 for noise of 10, 400 from 19.\nNot used while Auto is on.')
            }
        }

        Shotcut.SliderSpinner {
            id: levelSlider

            minimumValue: 0
            maximumValue: levelScale
            stepSize: 1
            decimals: 0
            onValueChanged: updateFilter(level, levelSlider.value / levelScale, levelKeyframesButton, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: levelSlider.value = levelDefault
        }

        Shotcut.KeyframesButton {
            id: levelKeyframesButton

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, level, levelSlider.value / levelScale);
            }
        }

        Label {
            text: qsTr('Dynamic')
            Layout.alignment: Qt.AlignRight

            Shotcut.HoverTip {
                text: qsTr('How much a neighbour pair\'s own contrast lowers its tolerance, 0 to 10.\nAuto uses 8. Not used while Auto is on.')
            }
        }

        Shotcut.SliderSpinner {
            id: dynamicSlider

            minimumValue: 0
            maximumValue: dynamicScale
            stepSize: 1
            decimals: 0
            onValueChanged: updateFilter(dynamic, dynamicSlider.value / dynamicScale, dynamicKeyframesButton, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: dynamicSlider.value = dynamicDefault
        }

        Shotcut.KeyframesButton {
            id: dynamicKeyframesButton

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, dynamic, dynamicSlider.value / dynamicScale);
            }
        }

        Item {
            width: 1
        }

        CheckBox {
            id: showNoiseCheckBox

            text: qsTr('Show noise')
            onCheckedChanged: filter.set(showNoise, checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: showNoiseCheckBox.checked = false
        }

        Item {
            width: 1
        }

        Item {
            width: 1
        }

        CheckBox {
            id: disableCheckBox

            text: qsTr('Disable')
            onCheckedChanged: filter.set(disable, checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: disableCheckBox.checked = false
        }

        Item {
            width: 1
        }

        Item {
            width: 1
        }

        CheckBox {
            id: autoCheckBox

            text: qsTr('Auto')
            onCheckedChanged: {
                filter.set(autoStrength, checked ? 1 : 0);
                enableControls(isSimpleKeyframesActive());
            }

            Shotcut.HoverTip {
                text: qsTr('Set Level and Dynamic for each frame from the noise measured in it')
            }
        }

        Shotcut.UndoButton {
            onClicked: autoCheckBox.checked = false
        }

        Item {
            width: 1
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setKeyframableControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setKeyframableControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setKeyframableControls();
        }

        target: producer
    }
}
