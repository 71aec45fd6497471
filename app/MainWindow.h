#pragma once

#include "framing/BasicNMEA.h"

#include <QFile>
#include <QList>
#include <QMainWindow>
#include <QSerialPortInfo>

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

public:
    MainWindow();
    ~MainWindow() override;

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
    // Lists the serial ports present into portInfoList and the port combo box.
    void EnumeratePorts();
    QWidget* BuildWidgets();
    QGroupBox* BuildComGroup();
    QGroupBox* BuildDeviceInfoGroup();
    QVBoxLayout* BuildDebugColumn();
    QGroupBox* BuildSettingsGroup();
    QGroupBox* BuildSettings2Group();
    QGroupBox* BuildLogbookGroup();
    QGroupBox* BuildUpdateGroup();

    QList<QSerialPortInfo> portInfoList;
    QFile fileUpdate;
    QProgressBar* pUpdateProgress;
    BasicNMEA framer;
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
    bool bRawMode = false;
};
