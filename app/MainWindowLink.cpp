// The serial link: port list, connect toggle with its delayed opening, the one-second poll, the port
// reader and the command sender.
#include "app/MainWindow.h"

#include "common/TimeOfDay.h"
#include "framing/AppendChecksum.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QTextEdit>

#include <climits>
#include <cstdio>

namespace {

// "$", at most 1017 body characters and the six bytes that AppendChecksum adds fill the buffer.
constexpr int kCommandBufferSize = 1024;
constexpr int kMaxCommandBody = kCommandBufferSize - 7;

// Errors after which the line is gone, such as a pulled cable. A time-out or an unsupported setting
// leaves the port usable.
bool IsLineLost(QSerialPort::SerialPortError eError) {
    switch (eError) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
    case QSerialPort::UnknownError:
        return true;
    default:
        return false;
    }
}

} // namespace

// Ports that the system does not list, such as pseudo-terminals, come from VORNIK_EXTRA_PORTS and
// follow the system's ports. They are separated as the platform separates paths in a list, so that a
// Windows path keeps its drive letter. Item data i below portInfoList's size indexes portInfoList; the
// rest index asExtraPorts, counted on from there.
void MainWindow::EnumeratePorts() {
    portInfoList = QSerialPortInfo::availablePorts();
    asExtraPorts = QString::fromLocal8Bit(qgetenv("VORNIK_EXTRA_PORTS"))
                       .split(QDir::listSeparator(), Qt::SkipEmptyParts);
    qDebug("Available serial ports:");
    QStringList asNames;
    for (const QSerialPortInfo& info : std::as_const(portInfoList))
        asNames << info.portName();
    asNames += asExtraPorts;
    for (int i = 0; i < asNames.size(); i++) {
        qDebug("Name : %s", qUtf8Printable(asNames[i]));
        pPortCombo->insertItem(pPortCombo->count(), QIcon(), asNames[i], i);
    }
}

void MainWindow::RefreshCOMList() {
    pPortCombo->clear();
    EnumeratePorts();
}

void MainWindow::Connect() {
    if (!bConnected && pPortCombo->currentIndex() < 0) {
        qDebug("No COM port to connect!");
        return;
    }
    qDebug("Com connected!");
    if (bConnected) {
        Disconnected();
        return;
    }
    pConnectButton->setText(tr("Disconnect"));
    iOpenTicks = kOpenAfterConnectTicks;
    pRefreshButton->setEnabled(false);
    bConnected = true;
}

// Back to idle, whether the user pressed Disconnect or the line went away.
void MainWindow::Disconnected() {
    // Cleared first: closing a dead line reports one more error, which must find the link idle.
    bConnected = false;
    iOpenTicks = -1;
    pConnectButton->setText(tr("Connect"));
    pRefreshButton->setEnabled(true);
    if (pSerialPort->isOpen())
        pSerialPort->close();
    ForgetLink();
}

// Whatever was learnt from the instrument is forgotten, so that it is asked for again: after a new
// connection, or when the instrument restarts with new firmware.
void MainWindow::ForgetInstrument() {
    deviceInfoLabel->clear();
    pSettingsGroup->hide();
    pSettings2Group->hide();
    EndFlightDownload();
    framer.parser.info.Clear();
    framer.parser.settings.Clear();
}

// A fresh link: the instrument and its logbook forgotten.
void MainWindow::ForgetLink() {
    ForgetInstrument();
    pFlightCombo->clear();
    iLogbookRow = -1;
    bRowAwaited = false;
}

void MainWindow::WatchForUnplug() {
    // The port, which the window owns and deletes first, is the connection's context.
    connect(pSerialPort, &QSerialPort::errorOccurred, pSerialPort,
            [this](QSerialPort::SerialPortError eError) {
                if (IsLineLost(eError))
                    LineLost();
            });
}

// An unplugged instrument leaves the port open while Qt reports errors on it without pause.
void MainWindow::LineLost() {
    if (!bConnected || !pSerialPort->isOpen())
        return;
    qDebug("Com port lost: %s", qUtf8Printable(pSerialPort->errorString()));
    Disconnected();
}

void MainWindow::EverySecond() {
    if (OpenPortWhenDue())
        return;
    WatchUpdate();
    CheckFlightStall();
    Poll();
}

// The counter runs down to 1 on the tick that opens the port; idle, it stays negative for good.
bool MainWindow::OpenPortWhenDue() {
    if (iOpenTicks > INT16_MIN)
        iOpenTicks--;
    if (iOpenTicks != 1)
        return false;
    iOpenTicks = -1;
    OpenSelectedPort();
    return true;
}

void MainWindow::OpenSelectedPort() {
    const int iPort = pPortCombo->currentIndex() < 0 ? -1 : pPortCombo->currentData().toInt();
    const int iExtra = iPort - static_cast<int>(portInfoList.size());
    if (iPort >= 0 && iExtra < 0) {
        pSerialPort->setPort(portInfoList[iPort]);
    } else if (iExtra >= 0 && iExtra < asExtraPorts.size()) {
        // A port info built from such a path cannot open it; the path itself can.
        pSerialPort->setPortName(asExtraPorts[iExtra]);
    } else {
        qDebug("No COM port to open!");
        return;
    }
    pSerialPort->setBaudRate(115200, QSerialPort::AllDirections);
    pSerialPort->setDataBits(QSerialPort::Data8);
    pSerialPort->setParity(QSerialPort::NoParity);
    pSerialPort->setStopBits(QSerialPort::OneStop);
    pSerialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!pSerialPort->open(QIODevice::ReadWrite)) {
        qDebug("Com open failed: %s", qUtf8Printable(pSerialPort->errorString()));
        // Tried again every other tick, so that an instrument plugged in late is found without the
        // user's help; Disconnect ends the attempts.
        iOpenTicks = kOpenRetryTicks;
    }
}

// Asks for the first thing the tool still lacks: identity, settings, then the logbook's first row.
void MainWindow::Poll() {
    if (bRawMode || bUpdating || !pSerialPort->isOpen() || iOpenTicks > 0)
        return;
    iOpenTicks = -1;
    if (!framer.parser.info.bValid) {
        SendCommand("VNREQ,0");
    } else if (!framer.parser.settings.bValid) {
        SendCommand("VNREQ,1");
    } else if (iLogbookRow < 0 && HasLogbook()) {
        iLogbookRow = 0;
        AskForLogbookRow();
    } else {
        CheckLogbookRow();
    }
}

void MainWindow::ReadCOMData() {
    if (!pSerialPort->isOpen())
        return;
    if (bRawMode) {
        ReadFlightPart();
        return;
    }
    const QByteArray baData = pSerialPort->readAll();
    if (pEnableOutputCheck->isChecked())
        AppendToPane(pReceivedText, QString::fromUtf8(baData));
    // Each sentence is acted on by the byte that completes it, before the next byte is fed.
    for (const char cByte : baData) {
        framer.ProcessByte(static_cast<uint8_t>(cByte));
        ActOnSentence(framer.uiLastCode);
    }
}

// The window's part in the instrument's own sentences; every other code is left to the parser's records.
void MainWindow::ActOnSentence(common::SentenceCode uiCode) {
    switch (uiCode) {
    case common::CodeRequest:
        uiLastReqMs = common::TimeOfDayMs();
        AnswerUpdateRequest();
        break;
    case common::CodeInfo:
        ShowDeviceInfo();
        break;
    case common::CodeSettings:
        LoadSettings();
        break;
    case common::CodeLogbook:
        TakeLogbookRow();
        break;
    default:
        break;
    }
}

bool MainWindow::SendCommand(const char* pszCommand) {
    if (!pSerialPort->isOpen())
        return false;
    char szSentence[kCommandBufferSize];
    const int iLength = snprintf(szSentence, sizeof(szSentence), "$%s", pszCommand);
    if (iLength < 0 || iLength > kMaxCommandBody + 1) {
        qDebug("Command too long, not sent!");
        return false;
    }
    AppendChecksum(szSentence);
    pSerialPort->write(szSentence);
    // On the line before the pane's work, which takes longer than the command's own bytes: the answer
    // is on its way meanwhile.
    pSerialPort->waitForBytesWritten(kWriteWaitMs);
    if (pEnableOutputCheck->isChecked())
        AppendToPane(pSentText, QString::fromUtf8(szSentence));
    return true;
}
