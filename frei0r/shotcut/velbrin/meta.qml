// Velbrin in Shotcut's filter list: the name and the search words, the MLT
// service that runs it (the frei0r plug-in velbrin.so or velbrin.dll, by
// index: 0 Level, 1 Dynamic, 2 Show noise, 3 Disable, 4 Auto) and the two settings
// that keyframes may change, in the plug-in's 0..1 values.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    objectName: 'velbrin'
    name: qsTr('Reduce Noise: Velbrin')
    keywords: qsTr('smooth denoise noise edge-preserving clean artifact', 'search keywords for the Reduce Noise: Velbrin video filter') + ' velbrin reduce noise: velbrin'
    mlt_service: 'frei0r.velbrin'
    qml: 'ui.qml'

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['0', '1']
        parameters: [
            Parameter {
                name: qsTr('Level')
                property: '0'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Dynamic')
                property: '1'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
