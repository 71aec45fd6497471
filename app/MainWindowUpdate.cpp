// The firmware update: the update file, the loader's requests answered, and the watchdog.
#include "app/MainWindow.h"

#include "common/TimeOfDay.h"
#include "framing/Crc16.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSerialPort>

#include <string.h>

namespace {

constexpr uint16_t kHeaderSize = 128;
constexpr uint16_t kChunkSize = 512;
// The instrument asks again well within this; longer silence means it has finished or gone.
constexpr qint64 kUpdateSilenceMs = 2000;
// A file that cannot be positioned after this many tries will not be positioned at all.
constexpr int kSeekTries = 3;

// Out now, not after the window has repainted: the loader waits for every byte. Only what the line can
// take at once is handed over, and the port writes the rest as the line drains. A flush would write into
// a full transmit buffer, as a burst of requests leaves it, and the port reports that refusal as it
// reports a pulled cable, which would end the connection in the middle of the update. Waiting for the
// line instead would freeze the window for as long as the instrument does not read.
void WriteOut(QSerialPort* pPort) {
    pPort->waitForBytesWritten(0);
}

} // namespace

uint16_t MainWindow::CalcCrc16(const uint8_t* pbyData, uint32_t uiLen) {
    return CalcCrc16Xmodem(pbyData, uiLen);
}

void MainWindow::OpenUpdateFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open File"), QCoreApplication::applicationDirPath(), tr("Files (*.vnu)"));
    pUpdateFileEdit->setText(path);
    // Cancelled: the file chosen before stays in use.
    if (path.isEmpty())
        return;
    fileUpdate.close();
    fileUpdate.setFileName(path);
    if (fileUpdate.open(QIODevice::ReadOnly)) {
        uiChunkId = 0;
        qDebug("Update file is opened and ready to use");
    } else {
        qDebug("Errror opening update file!");
    }
}

void MainWindow::StartUpdate() {
    if (!fileUpdate.isOpen())
        return;
    // Without a connection there is no instrument to update, and no port that may be reopened.
    if (!bConnected) {
        qDebug("No instrument connected to update");
        return;
    }
    SendCommand("VNREQ,199");
    bUpdating = true;
    uiLastReqMs = common::TimeOfDayMs();
    updateReqClock.start();
    // The instrument restarts into its loader; the poll reopens the same port at its second tick.
    pSerialPort->close();
    iOpenTicks = kOpenAfterLoaderTicks;
    // A download cannot outlive the restart, raw mode would swallow the loader's requests, and the new
    // firmware may tell a different identity and settings. The flights listed stay.
    ForgetInstrument();
}

// Run for every VNREQ the instrument sends; its loader drives the transfer with codes 200 and 201.
void MainWindow::AnswerUpdateRequest() {
    updateReqClock.start();
    if (framer.parser.request.uiCode == 200)
        SendUpdateHeader();
    else if (framer.parser.request.uiCode == 201)
        SendUpdateChunk();
}

void MainWindow::SendUpdateHeader() {
    bUpdating = true;
    qDebug("Sending update file header.");
    if (!ReadNewUpdateChunk(0, kHeaderSize))
        return;
    pSerialPort->write(reinterpret_cast<const char*>(abyUpdateBuf), kHeaderSize);
    WriteOut(pSerialPort);
    uiChunkId = 0;
    pUpdateProgress->setValue(0);
}

void MainWindow::SendUpdateChunk() {
    bUpdating = true;
    uiChunkId = framer.parser.request.auiArg[0];
    qDebug() << "Sending content of update file ID: " << uiChunkId;
    const uint32_t uiOffset = uiChunkId * kChunkSize + kHeaderSize;
    if (!ReadNewUpdateChunk(uiOffset, kChunkSize))
        return;
    pSerialPort->write(reinterpret_cast<const char*>(abyUpdateBuf), kChunkSize);
    const uint16_t uiCrc = CalcCrc16(abyUpdateBuf, kChunkSize);
    const char acCrc[2] = {static_cast<char>(uiCrc & 0xFF), static_cast<char>(uiCrc >> 8)};
    pSerialPort->write(acCrc, sizeof(acCrc));
    WriteOut(pSerialPort);
    // The share of the file before this chunk. Chunks past the end lie beyond the bar's range, which
    // would ignore them anyway; an empty file has no share at all.
    const qint64 iFileSize = fileUpdate.size();
    if (iFileSize <= 0)
        return;
    const float fShare = static_cast<float>(uiOffset) / static_cast<float>(iFileSize) * 100.0f;
    if (fShare <= 100.0f)
        pUpdateProgress->setValue(static_cast<int>(fShare));
}

bool MainWindow::ReadNewUpdateChunk(uint32_t uiFileOffset, uint16_t uiReadLen) {
    if (!fileUpdate.isOpen()) {
        qDebug("Update file is not opened");
        return false;
    }
    // Whatever lies beyond the end of the file goes out as erased flash.
    memset(abyUpdateBuf, 0xFF, sizeof(abyUpdateBuf));
    if (uiReadLen == 0 || uiReadLen > 1023) {
        qDebug("Update working buffer is not as big as requested chunk!");
        return false;
    }
    int iTries = 0;
    while (!fileUpdate.seek(uiFileOffset)) {
        if (++iTries == kSeekTries) {
            qDebug("Update file cannot be positioned at %u", static_cast<unsigned>(uiFileOffset));
            return false;
        }
    }
    // Sending erased flash in place of bytes that could not be read would corrupt the image.
    if (fileUpdate.read(reinterpret_cast<char*>(abyUpdateBuf), uiReadLen) < 0) {
        qDebug("Update file cannot be read at %u", static_cast<unsigned>(uiFileOffset));
        return false;
    }
    return true;
}

// Step of the one-second tick: an instrument silent for too long has finished its update or gone away.
void MainWindow::WatchUpdate() {
    if (!bUpdating || !updateReqClock.hasExpired(kUpdateSilenceMs))
        return;
    uiLastReqMs = common::TimeOfDayMs() + kUpdateEndStampMs;
    pSerialPort->close();
    bUpdating = false;
    // Reopened four ticks later, when the instrument runs its new firmware; a line that was
    // disconnected or unplugged meanwhile stays closed.
    if (bConnected)
        iOpenTicks = kOpenAfterUpdateTicks;
    fileUpdate.close();
    pUpdateProgress->setValue(0);
    pUpdateFileEdit->clear();
}
