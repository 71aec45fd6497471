// The window's construction: its widgets, their connections, the timers and the debug panes.
#include "app/MainWindow.h"

#include "common/TimeOfDay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Every push button of the window is a default button.
QPushButton* MakeButton(const QString& text, const char* pszName) {
    QPushButton* pButton = new QPushButton(text);
    pButton->setObjectName(QLatin1String(pszName));
    pButton->setDefault(true);
    return pButton;
}

QLabel* MakeLabel(const QString& text, const char* pszName) {
    QLabel* pLabel = new QLabel(text);
    pLabel->setObjectName(QLatin1String(pszName));
    return pLabel;
}

QSpinBox* MakeSpin(const char* pszName, int iMin, int iMax, int iValue, const QString& suffix) {
    QSpinBox* pSpin = new QSpinBox;
    pSpin->setObjectName(QLatin1String(pszName));
    pSpin->setRange(iMin, iMax);
    pSpin->setValue(iValue);
    pSpin->setSuffix(suffix);
    return pSpin;
}

// The item data is the number exchanged with the instrument: the item's position.
QComboBox* MakeIndexedCombo(const char* pszName, const QStringList& items) {
    QComboBox* pCombo = new QComboBox;
    pCombo->setObjectName(QLatin1String(pszName));
    for (int i = 0; i < items.size(); i++)
        pCombo->insertItem(pCombo->count(), QIcon(), items[i], i);
    return pCombo;
}

QGroupBox* MakeGroup(const QString& title, const char* pszName, QLayout* pLayout) {
    QGroupBox* pGroup = new QGroupBox(title);
    pGroup->setObjectName(QLatin1String(pszName));
    pGroup->setLayout(pLayout);
    return pGroup;
}

QHBoxLayout* MakeRow(std::initializer_list<QWidget*> widgets) {
    QHBoxLayout* pRow = new QHBoxLayout;
    for (QWidget* pWidget : widgets)
        pRow->addWidget(pWidget);
    return pRow;
}

QVBoxLayout* MakeColumn(std::initializer_list<QLayout*> rows) {
    QVBoxLayout* pColumn = new QVBoxLayout;
    for (QLayout* pRow : rows)
        pColumn->addLayout(pRow);
    return pColumn;
}

QTextEdit* MakeDebugPane(const char* pszName) {
    QTextEdit* pPane = new QTextEdit;
    pPane->setObjectName(QLatin1String(pszName));
    pPane->setContextMenuPolicy(Qt::NoContextMenu);
    pPane->setMinimumWidth(350);
    // A day of traffic must not grow an undo history; AppendToPane keeps the pane to its last lines.
    pPane->setUndoRedoEnabled(false);
    return pPane;
}

QProgressBar* SetUpProgress(QProgressBar* pBar, const char* pszName) {
    pBar->setObjectName(QLatin1String(pszName));
    pBar->setRange(0, 100);
    return pBar;
}

// A debug pane keeps at least its last kPaneLines lines, the one still being written included. Cutting
// lines off the top makes the pane lay out every line that stays, so they go a thousand at a time rather
// than a few with every append, which under a busy line cost more than the append itself.
constexpr int kPaneLines = 5000;
constexpr int kPaneCutLines = 1000;

} // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr), pUpdateProgress(new QProgressBar), pDownloadProgress(new QProgressBar) {
    qDebug("Start of the app");

    pSerialPort = new QSerialPort;
    pSerialPort->setObjectName(QStringLiteral("serialPort"));

    pPortCombo = new QComboBox;
    pPortCombo->setObjectName(QStringLiteral("portCombo"));
    EnumeratePorts();
    // Extra ports are set by whoever started the tool for one instrument, such as the demo: the first is
    // then the one to connect to.
    if (!asExtraPorts.isEmpty())
        pPortCombo->setCurrentIndex(static_cast<int>(portInfoList.size()));

    QWidget* pCentral = BuildWidgets();
    setWindowTitle(tr("Vornik device tool v1.2"));
    setCentralWidget(pCentral);

    connect(pSerialPort, SIGNAL(readyRead()), this, SLOT(ReadCOMData()));
    WatchForUnplug();
    connect(pConnectButton, SIGNAL(clicked()), this, SLOT(Connect()));
    connect(pRefreshButton, SIGNAL(clicked()), this, SLOT(RefreshCOMList()));
    connect(pSaveButton, SIGNAL(clicked()), this, SLOT(WriteSettings()));
    connect(pSave2Button, SIGNAL(clicked()), this, SLOT(WriteSettings()));
    connect(pSelectFileButton, SIGNAL(clicked()), this, SLOT(OpenUpdateFile()));
    connect(pUpdateButton, SIGNAL(clicked()), this, SLOT(StartUpdate()));
    connect(pEmptyButton, SIGNAL(clicked()), this, SLOT(EmptyLogbook()));
    connect(pDownloadButton, SIGNAL(clicked()), this, SLOT(DownloadFlight()));
    connect(pClearButton, SIGNAL(clicked()), this, SLOT(ClearDebug()));

    QTimer* pTimer = new QTimer(this);
    pTimer->setObjectName(QStringLiteral("pollTimer"));
    connect(pTimer, SIGNAL(timeout()), this, SLOT(EverySecond()));
    pTimer->start(1000);

    // Apart from the poll, so that a part is asked for as soon as the line has been quiet long enough.
    pQuietTimer = new QTimer(this);
    pQuietTimer->setObjectName(QStringLiteral("quietTimer"));
    pQuietTimer->setSingleShot(true);
    connect(pQuietTimer, SIGNAL(timeout()), this, SLOT(LineFellQuiet()));

    uiLastReqMs = common::TimeOfDayMs();
}

MainWindow::~MainWindow() {
    // Closing a dead line reports errors, which must not reach a window that is going away.
    pSerialPort->disconnect();
    pSerialPort->close();
    delete pSerialPort;
}

void MainWindow::ClearDebug() {
    pSentText->clear();
    pReceivedText->clear();
}

void MainWindow::AppendToPane(QTextEdit* pPane, const QString& text) {
    pPane->moveCursor(QTextCursor::End);
    pPane->insertPlainText(text);
    QTextDocument* pDocument = pPane->document();
    if (pDocument->blockCount() >= kPaneLines + kPaneCutLines) {
        // Selected by position: stepping block by block would lay out each line it passes.
        QTextCursor top(pDocument);
        top.setPosition(pDocument->findBlockByNumber(pDocument->blockCount() - kPaneLines).position(),
                        QTextCursor::KeepAnchor);
        top.removeSelectedText();
    }
    pPane->moveCursor(QTextCursor::End);
}

QWidget* MainWindow::BuildWidgets() {
    QGroupBox* pComGroup = BuildComGroup();
    QGroupBox* pDeviceInfoGroup = BuildDeviceInfoGroup();
    QVBoxLayout* pDebugColumn = BuildDebugColumn();
    pSettingsGroup = BuildSettingsGroup();
    pSettings2Group = BuildSettings2Group();
    QGroupBox* pLogbookGroup = BuildLogbookGroup();
    QGroupBox* pUpdateGroup = BuildUpdateGroup();

    QVBoxLayout* pMainColumn = new QVBoxLayout;
    pMainColumn->setAlignment(Qt::AlignTop);
    for (QGroupBox* pGroup :
         {pComGroup, pDeviceInfoGroup, pSettingsGroup, pSettings2Group, pLogbookGroup, pUpdateGroup})
        pMainColumn->addWidget(pGroup);

    // The debug panes stand beside the main column so that the traffic can be watched while working.
    QHBoxLayout* pTopRow = new QHBoxLayout;
    pTopRow->addLayout(pMainColumn);
    pTopRow->addLayout(pDebugColumn);

    QWidget* pCentral = new QWidget;
    pCentral->setObjectName(QStringLiteral("centralWidget"));
    pCentral->setLayout(pTopRow);

    // Shown once the instrument's settings tell which model it is.
    pSettingsGroup->hide();
    pSettings2Group->hide();
    return pCentral;
}

QGroupBox* MainWindow::BuildComGroup() {
    pRefreshButton = MakeButton(tr("Refresh"), "refreshButton");
    pConnectButton = MakeButton(tr("Connect"), "connectButton");
    QHBoxLayout* pRow =
        MakeRow({MakeLabel(tr("COM port:"), "portLabel"), pPortCombo, pRefreshButton, pConnectButton});
    QGroupBox* pGroup = MakeGroup(tr("COM settings"), "comGroup", MakeColumn({pRow}));
    pGroup->setFixedHeight(55);
    return pGroup;
}

QGroupBox* MainWindow::BuildDeviceInfoGroup() {
    deviceInfoLabel = MakeLabel(QString(), "deviceInfoLabel");
    // The instrument's texts are shown as the characters it sent, never as markup.
    deviceInfoLabel->setTextFormat(Qt::PlainText);
    QVBoxLayout* pColumn = new QVBoxLayout;
    pColumn->addWidget(deviceInfoLabel);
    QGroupBox* pGroup = MakeGroup(tr("Device info"), "deviceInfoGroup", pColumn);
    pGroup->setFixedHeight(55);
    pGroup->setMinimumWidth(450);
    return pGroup;
}

QVBoxLayout* MainWindow::BuildDebugColumn() {
    pEnableOutputCheck = new QCheckBox(tr("Enable Output"));
    pEnableOutputCheck->setObjectName(QStringLiteral("enableOutputCheck"));
    pEnableOutputCheck->setChecked(true);
    pClearButton = MakeButton(tr("Clear"), "clearButton");
    pSentText = MakeDebugPane("sentText");
    pReceivedText = MakeDebugPane("receivedText");

    QVBoxLayout* pColumn = MakeColumn({MakeRow({pEnableOutputCheck, pClearButton})});
    pColumn->addWidget(pSentText);
    pColumn->addWidget(pReceivedText);
    return pColumn;
}

QGroupBox* MainWindow::BuildSettingsGroup() {
    pTELevelSpin = MakeSpin("teLevelSpin", -10, 120, 0, QStringLiteral("%"));
    pVarioFilterSpin = new QDoubleSpinBox;
    pVarioFilterSpin->setObjectName(QStringLiteral("varioFilterSpin"));
    pVarioFilterSpin->setDecimals(1);
    pVarioFilterSpin->setRange(0.5, 10.0);
    pVarioFilterSpin->setSingleStep(0.1);
    pVarioFilterSpin->setValue(1.5);
    pVarioFilterSpin->setSuffix(QStringLiteral("s"));
    pPairKeySpin = MakeSpin("pairKeySpin", 0, 999999, 0, QString());
    pServoChannelSpin = MakeSpin("servoChannelSpin", -1, 24, -1, QString());
    pServoTriggerSpin = MakeSpin("servoTriggerSpin", 0, 100, 0, QStringLiteral("%"));
    pTelemetryCombo = MakeIndexedCombo("telemetryCombo", {tr("None"), tr("JetiEx"), tr("PowerBox System"),
                                                          tr("JetiEX compress"), tr("Graupner HoTT")});
    pSaveButton = MakeButton(tr("Save"), "saveButton");

    QVBoxLayout* pLeft = MakeColumn({
        MakeRow({MakeLabel(tr("TE Level:"), "teLevelLabel"), pTELevelSpin}),
        MakeRow({MakeLabel(tr("Vario filter:"), "varioFilterLabel"), pVarioFilterSpin}),
        MakeRow({MakeLabel(tr("Telemetry pair key:"), "pairKeyLabel"), pPairKeySpin}),
    });
    QVBoxLayout* pRight = MakeColumn({
        MakeRow({MakeLabel(tr("Servo channel:"), "servoChannelLabel"), pServoChannelSpin}),
        MakeRow({MakeLabel(tr("Servo trigger:"), "servoTriggerLabel"), pServoTriggerSpin}),
        MakeRow({MakeLabel(tr("Telemetry:"), "telemetryLabel"), pTelemetryCombo}),
    });
    QHBoxLayout* pColumns = new QHBoxLayout;
    pColumns->addLayout(pLeft);
    pColumns->addLayout(pRight);

    QVBoxLayout* pGroupLayout = MakeColumn({pColumns});
    pGroupLayout->addWidget(pSaveButton);
    return MakeGroup(tr("Settings"), "settingsGroup", pGroupLayout);
}

QGroupBox* MainWindow::BuildSettings2Group() {
    pPairKey2Spin = MakeSpin("pairKey2Spin", 0, 999999, 0, QString());
    pTelemetry2Combo = MakeIndexedCombo(
        "telemetry2Combo", {tr("None"), tr("JetiEx"), tr("PowerBox System"), tr("Graupner HoTT")});
    pSave2Button = MakeButton(tr("Save"), "save2Button");

    QHBoxLayout* pColumns = new QHBoxLayout;
    pColumns->addLayout(MakeColumn({MakeRow({MakeLabel(tr("PairKey:"), "pairKey2Label"), pPairKey2Spin})}));
    pColumns->addLayout(
        MakeColumn({MakeRow({MakeLabel(tr("Telemetry:"), "telemetry2Label"), pTelemetry2Combo})}));

    QVBoxLayout* pGroupLayout = MakeColumn({pColumns});
    pGroupLayout->addWidget(pSave2Button);
    return MakeGroup(tr("Settings"), "settings2Group", pGroupLayout);
}

QGroupBox* MainWindow::BuildLogbookGroup() {
    pFlightCombo = new QComboBox;
    pFlightCombo->setObjectName(QStringLiteral("flightCombo"));
    // Room for a whole "dd.mm.yy-hh:mm" item although the list is empty when the layout is made.
    pFlightCombo->setMinimumContentsLength(14);
    pDownloadButton = MakeButton(tr("Download"), "downloadButton");
    pEmptyButton = MakeButton(tr("Empty"), "emptyButton");

    QVBoxLayout* pGroupLayout = MakeColumn(
        {MakeRow({MakeLabel(tr("Flight:"), "flightLabel"), pFlightCombo, pDownloadButton, pEmptyButton})});
    pGroupLayout->addWidget(SetUpProgress(pDownloadProgress, "downloadProgress"));
    return MakeGroup(tr("Logbook"), "logbookGroup", pGroupLayout);
}

QGroupBox* MainWindow::BuildUpdateGroup() {
    pUpdateFileEdit = new QLineEdit;
    pUpdateFileEdit->setObjectName(QStringLiteral("updateFileEdit"));
    // Shows the chosen file; the name is only ever set through the file dialog.
    pUpdateFileEdit->setEnabled(false);
    pSelectFileButton = MakeButton(tr("Select File"), "selectFileButton");
    pUpdateButton = MakeButton(tr("Update"), "updateButton");

    QVBoxLayout* pGroupLayout = MakeColumn({MakeRow({pUpdateFileEdit, pSelectFileButton, pUpdateButton})});
    pGroupLayout->addWidget(SetUpProgress(pUpdateProgress, "updateProgress"));
    return MakeGroup(tr("Update"), "updateGroup", pGroupLayout);
}
