#pragma once

// The tool's one window, declared once and implemented in one source per concern.

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
class QTimer;
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
    // Construction and the debug panes (MainWindow.cpp).
    void ClearDebug();
    // Serial link (MainWindowLink.cpp).
    void EverySecond();
    void ReadCOMData();
    void Connect();
    void RefreshCOMList();
    // Identity and settings (MainWindowDevice.cpp).
    void WriteSettings();
    // Logbook and flight download (MainWindowLogbook.cpp).
    void EmptyLogbook();
    void DownloadFlight();
    void LineFellQuiet();
    const char* GetIGCSerial(uint32_t uiSerial) const;
    const char* GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const;
    // Firmware update (MainWindowUpdate.cpp).
    void OpenUpdateFile();
    void StartUpdate();
    bool ReadNewUpdateChunk(uint32_t uiFileOffset, uint16_t uiReadLen);

private:
    // Construction and the debug panes (MainWindow.cpp).
    QWidget* BuildWidgets();
    QGroupBox* BuildComGroup();
    QGroupBox* BuildDeviceInfoGroup();
    QVBoxLayout* BuildDebugColumn();
    QGroupBox* BuildSettingsGroup();
    QGroupBox* BuildSettings2Group();
    QGroupBox* BuildLogbookGroup();
    QGroupBox* BuildUpdateGroup();
    static void AppendToPane(QTextEdit* pPane, const QString& text);

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
    void ForgetInstrument();
    void ForgetLink();

    // Identity and settings (MainWindowDevice.cpp).
    bool ModelIs(const char* pszPrefix) const;
    bool HasLogbook() const;
    bool HasFullSettings() const;
    void ShowDeviceInfo();
    void LoadSettings();

    // Logbook and flight download (MainWindowLogbook.cpp).
    void AskForLogbookRow();
    void CheckLogbookRow();
    bool IsListed(const common::LogbookEntry& entry) const;
    void TakeLogbookRow();
    void StartFlightParts(uint16_t uiFirstPart);
    void SetRawMode(bool bOn);
    void ShowFlightProgress(uint16_t uiPart);
    void SettleLine();
    void RequestFlightPart(uint16_t uiPart);
    void ReadFlightPart();
    void CheckTakenParts(const QByteArray& baPart);
    bool IsRepeatedPart(const QByteArray& baPart);
    void KeepPartCopies();
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

    // The link's timings. iOpenTicks runs down once a tick and opens the port on the tick that brings it
    // to 1, so a count of n opens it n - 1 ticks later.
    static constexpr int16_t kOpenAfterConnectTicks = 2; // on the next tick
    static constexpr int16_t kOpenRetryTicks = 3;        // a failed open, tried again every other tick
    static constexpr int16_t kOpenAfterLoaderTicks = 3;  // the instrument restarts into its loader
    static constexpr int16_t kOpenAfterUpdateTicks = 5;  // the new firmware starts up
    static constexpr int kWriteWaitMs = 30000;           // a command's bytes are on the line by then
    static constexpr uint32_t kUpdateEndStampMs = 5000;  // uiLastReqMs set this far ahead as an update ends

    bool bConnected = false;
    int16_t iOpenTicks = -1;
    bool bUpdating = false;
    uint32_t uiChunkId = 0;
    // Stamped at each loader request and moved on as an update ends; nothing reads it, as the update's
    // watchdog times the loader on its monotonic updateReqClock instead.
    uint32_t uiLastReqMs = 0;
    int16_t iLogbookRow = -1;
    // A logbook row asked for and not come yet; rowClock runs from its request.
    bool bRowAwaited = false;
    QElapsedTimer rowClock;
    bool bRawMode = false;

    uint8_t byFlightIdx = 0;
    uint16_t uiPartNr = 0;
    // The stall and repeat recovery of the download under way; Reset() before each download.
    struct DownloadState {
        struct PartCopies {
            uint16_t uiPartNr = 0;
            uint8_t byLeft = 0;
        };
        static constexpr int kKeptPartCopies = 8;

        void Reset() { *this = DownloadState(); }

        // Started at each part request; a part that does not complete in time is asked for again.
        QElapsedTimer partClock;
        uint16_t uiTriedPartNr = 0;
        uint8_t byPartTries = 0;
        // Parts below uiCheckedParts are known to be in their places; bCheckingPart is set while the last
        // part taken is asked for once more to check those after them. byRestarts counts failed checks.
        uint16_t uiCheckedParts = 0;
        bool bCheckingPart = false;
        uint8_t byRestarts = 0;
        // Requests sent for the awaited part: each may still bring a copy of it once it is taken.
        uint8_t byPartRequests = 0;
        // Parts whose copies may still come, and how many of them are dropped at most. Entry 0 is the last
        // part taken; the others are parts that were asked for again, the oldest replaced first.
        PartCopies aPartCopies[kKeptPartCopies] = {};
        uint8_t byNextAskedAgain = 1;
        // Set while the line must fall quiet before a part is asked for; the quiet timer is restarted by
        // every byte meanwhile and asks for the part when it runs out.
        bool bSettling = false;
    };
    DownloadState download;
    QTimer* pQuietTimer = nullptr;

    uint8_t abyUpdateBuf[1024];
    // Started with the update and at each request: the watchdog must not trip at midnight.
    QElapsedTimer updateReqClock;
};
