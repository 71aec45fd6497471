// The instrument's identity and settings: what VNINFO2 and VNSET2 show, and what Save sends.
#include "app/MainWindow.h"

#include "common/Formats.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>

#include <cstdio>
#include <cstring>

namespace {

// "VNSET2" and the six settings: only then does the sentence carry the pair key and the protocol.
constexpr uint8_t kSettingsWithTelemetryFields = 7;

// Limited in the spin box's own unsigned range: as an int, a key above 2^31 would turn negative and show 0.
void ShowPairKey(QSpinBox* pSpin, uint32_t uiPairKey) {
    pSpin->setValue(static_cast<int>(qMin<uint32_t>(uiPairKey, static_cast<uint32_t>(pSpin->maximum()))));
}

// A protocol this tool does not list leaves the combo box empty; the instrument then keeps its own.
unsigned TelemetryToSend(const QComboBox* pCombo, uint8_t byReported) {
    const int iTelemetry = pCombo->currentIndex();
    return iTelemetry < 0 ? byReported : static_cast<unsigned>(iTelemetry);
}

} // namespace

// Models are told apart by the start of their name, so that variants count as their family.
bool MainWindow::ModelIs(const char* pszPrefix) const {
    return strncmp(framer.parser.info.szModel, pszPrefix, strlen(pszPrefix)) == 0;
}

// A Tovak_2 or an Ulmar keeps a logbook and takes all six settings; a Pelko_2 has no logbook and takes
// only its pair key and protocol.
bool MainWindow::HasLogbook() const {
    return ModelIs("Tovak_2") || ModelIs("Ulmar");
}

bool MainWindow::HasFullSettings() const {
    return ModelIs("Tovak_2") || ModelIs("Ulmar");
}

void MainWindow::ShowDeviceInfo() {
    const common::DeviceInfo& info = framer.parser.info;
    char szLine[150];
    snprintf(szLine, sizeof(szLine), "Device: %s (%lu), Produced: %s, FW: %u.%u.B%u, HW: %s", info.szModel,
             static_cast<unsigned long>(info.uiSerial), info.szProduced,
             static_cast<unsigned>(info.byFwMajor), static_cast<unsigned>(info.byFwMinor),
             static_cast<unsigned>(info.byFwBuild), common::FormatFixed(info.fHwVersion, 1));
    deviceInfoLabel->setText(QString::fromUtf8(szLine));
}

// Every spin box brings a value outside its range to the nearest bound; a protocol beyond its list
// leaves the combo box empty.
void MainWindow::LoadSettings() {
    const common::DeviceSettings& settings = framer.parser.settings;
    pTelemetryCombo->setCurrentIndex(settings.byTelemetry);
    pVarioFilterSpin->setValue(settings.fVarioFilter);
    pTELevelSpin->setValue(settings.iTELevel);
    pServoTriggerSpin->setValue(settings.byServoTrigger);
    pServoChannelSpin->setValue(settings.iServoChannel);
    ShowPairKey(pPairKeySpin, settings.uiPairKey);

    if (HasFullSettings()) {
        pSettingsGroup->show();
    } else if (ModelIs("Pelko_2")) {
        // A Pelko_2 answers with all six settings, its own two last; a shorter sentence lacks them, and
        // the group keeps what it shows.
        if (framer.parser.byFieldCount >= kSettingsWithTelemetryFields) {
            pTelemetry2Combo->setCurrentIndex(settings.byTelemetry);
            ShowPairKey(pPairKey2Spin, settings.uiPairKey);
        }
        pSettings2Group->show();
    }
}

void MainWindow::WriteSettings() {
    // The answer would land among the flight's raw bytes; the buttons are off meanwhile.
    if (bRawMode) {
        qDebug("Settings not saved during a flight download");
        return;
    }
    char szCommand[120];
    if (HasFullSettings()) {
        // The channel goes out as an unsigned 32-bit number: -1, no channel, is 4294967295.
        snprintf(szCommand, sizeof(szCommand), "VNSET2,%i,%s,%u,%u,%lu,%u", pTELevelSpin->value(),
                 common::FormatFixed(static_cast<float>(pVarioFilterSpin->value()), 1),
                 static_cast<unsigned>(pServoTriggerSpin->value()),
                 static_cast<unsigned>(static_cast<uint32_t>(pServoChannelSpin->value())),
                 static_cast<unsigned long>(pPairKeySpin->value()),
                 TelemetryToSend(pTelemetryCombo, framer.parser.settings.byTelemetry));
        SendCommand(szCommand);
    } else if (ModelIs("Pelko_2")) {
        snprintf(szCommand, sizeof(szCommand), "VNSET2,%lu,%u",
                 static_cast<unsigned long>(pPairKey2Spin->value()),
                 TelemetryToSend(pTelemetry2Combo, framer.parser.settings.byTelemetry));
        SendCommand(szCommand);
    }
    // The instrument answers with what it stored, which is what the widgets then show.
    SendCommand("VNREQ,1");
}
