#pragma once

#include "app/FlightSlot.h"
#include "framing/BasicNMEA.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMainWindow>
#include <QSerialPortInfo>
#include <QStringList>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSerialPort;
class QSpinBox;
class QTextEdit;
class QVBoxLayout;

// The tool's one window. It owns the serial link, the framer with its parser, and every widget.
// Its sources are split by concern: construction (MainWindow.cpp), the serial link and poll
// (MainWindowLink.cpp), identity and settings (MainWindowDevice.cpp), logbook and flight download
// (MainWindowLogbook.cpp) and the firmware update (MainWindowUpdate.cpp).
class MainWindow : public QMainWindow {
    Q_OBJECT
    // The end-to-end test drives the command sender to its length limit, which no caller reaches.
    friend class TestDeviceLink;
    // The device fuzzer sets the window's state between inputs and reads it back after every step.
    friend class DeviceHarness;

public:
    MainWindow();
    ~MainWindow() override;

    // CRC-16/XMODEM of a firmware chunk, as the instrument checks it.
    static uint16_t CalcCrc16(const uint8_t* pbyData, uint32_t uiLen);

private slots:
    void EverySecond();
    void ReadCOMData();
    void WriteSettings();
    void Connect();
    void OpenUpdateFile();
    void StartUpdate();
    void EmptyLogbook();
    void DownloadFlight();
    void RefreshCOMList();
    void ClearDebug();
    const char* GetIGCSerial(uint32_t uiSerial) const;
    const char* GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const;
    bool ReadNewUpdateChunk(uint32_t uiFileOffset, uint16_t uiReadLen);

private:
    // Serial link (MainWindowLink.cpp).
    // Lists the serial ports present into portInfoList, the extra ports and the port combo box.
    void EnumeratePorts();
    bool SendCommand(const char* pszCommand);
    void ActOnSentence(common::SentenceCode uiCode);
    void WatchForUnplug();
    bool OpenPortWhenDue();
    void OpenSelectedPort();
    void Poll();
    void LineLost();
    void Disconnected();

    // Identity and settings (MainWindowDevice.cpp).
    bool ModelIs(const char* pszPrefix) const;
    void ShowDeviceInfo();
    void LoadSettings();

    QWidget* BuildWidgets();
    QGroupBox* BuildComGroup();
    QGroupBox* BuildDeviceInfoGroup();
    QVBoxLayout* BuildDebugColumn();
    QGroupBox* BuildSettingsGroup();
    QGroupBox* BuildSettings2Group();
    QGroupBox* BuildLogbookGroup();
    QGroupBox* BuildUpdateGroup();

    // Logbook and flight download (MainWindowLogbook.cpp).
    void AskForLogbookRow();
    void CheckLogbookRow();
    void TakeLogbookRow();
    void SetRawMode(bool bOn);
    void SettleLine();
    void RequestFlightPart();
    void ReadFlightPart();
    void SaveFlight();
    void CheckFlightStall();
    void RetryFlightPart();
    void EndFlightDownload();

    // Firmware update (MainWindowUpdate.cpp).
    void AnswerUpdateRequest();
    void SendUpdateHeader();
    void SendUpdateChunk();
    void WatchUpdate();

    QList<QSerialPortInfo> portInfoList;
    // Device paths from VORNIK_EXTRA_PORTS, listed after portInfoList's ports.
    QStringList asExtraPorts;
    QFile fileUpdate;
    QProgressBar* pUpdateProgress;
    BasicNMEA framer;
    static constexpr int kLogbookRows = 50;
    FlightSlot aFlights[kLogbookRows] = {};
    QByteArray baFlight;
    QProgressBar* pDownloadProgress;

    QSerialPort* pSerialPort = nullptr;

    QComboBox* pPortCombo = nullptr;
    QPushButton* pRefreshButton = nullptr;
    QPushButton* pConnectButton = nullptr;
    QLabel* deviceInfoLabel = nullptr;

    QGroupBox* pSettingsGroup = nullptr;
    QSpinBox* pTELevelSpin = nullptr;
    QDoubleSpinBox* pVarioFilterSpin = nullptr;
    QSpinBox* pPairKeySpin = nullptr;
    QSpinBox* pServoChannelSpin = nullptr;
    QSpinBox* pServoTriggerSpin = nullptr;
    QComboBox* pTelemetryCombo = nullptr;
    QPushButton* pSaveButton = nullptr;

    QGroupBox* pSettings2Group = nullptr;
    QSpinBox* pPairKey2Spin = nullptr;
    QComboBox* pTelemetry2Combo = nullptr;
    QPushButton* pSave2Button = nullptr;

    QComboBox* pFlightCombo = nullptr;
    QPushButton* pDownloadButton = nullptr;
    QPushButton* pEmptyButton = nullptr;

    QLineEdit* pUpdateFileEdit = nullptr;
    QPushButton* pSelectFileButton = nullptr;
    QPushButton* pUpdateButton = nullptr;

    QCheckBox* pEnableOutputCheck = nullptr;
    QPushButton* pClearButton = nullptr;
    QTextEdit* pSentText = nullptr;
    QTextEdit* pReceivedText = nullptr;

    bool bConnected = false;
    int16_t iOpenTicks = -1;
    bool bUpdating = false;
    uint32_t uiChunkId = 0;
    uint32_t uiLastReqMs = 0;
    int16_t iLogbookRow = -1;
    // A logbook row asked for and not come yet; rowClock runs from its request.
    bool bRowAwaited = false;
    QElapsedTimer rowClock;
    bool bRawMode = false;

    uint8_t byFlightIdx = 0;
    uint16_t uiPartNr = 0;
    // Started at each part request; a part that does not complete in time is asked for again.
    QElapsedTimer partClock;
    uint16_t uiTriedPartNr = 0;
    uint8_t byPartTries = 0;
    // Set while the line must fall quiet before a part is asked for; restarted by every byte meanwhile.
    bool bSettling = false;
    QElapsedTimer quietClock;

    uint8_t abyUpdateBuf[1024];
    // Started with the update and at each request: the watchdog must not trip at midnight.
    QElapsedTimer updateReqClock;
};
