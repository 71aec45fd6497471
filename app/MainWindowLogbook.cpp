#include "app/MainWindow.h"

#include "common/Formats.h"
#include "common/JulianDate.h"

#include <QComboBox>
#include <QDebug>
#include <QIcon>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSerialPort>

#include <stdio.h>

namespace {

// The instrument sends every flight part as exactly this many bytes, the last one padded.
constexpr uint32_t kPartSize = 128;
// Parts are counted in 16 bits.
constexpr uint32_t kMaxParts = 65535;
// A part not complete this long after its request is taken as lost...
constexpr qint64 kPartTimeoutMs = 3000;
// ...and asked for again at most this many times in a row.
constexpr uint8_t kMaxPartTries = 3;
// A logbook row not come this long after its request was lost on the line; it is asked for again.
constexpr qint64 kRowTimeoutMs = 3000;
// Parts carry no frame: before the first part and a part asked for again, the line must have been quiet
// this long, so that the rest of a sentence, a late reply or a stale part is not counted into it.
constexpr qint64 kQuietLineMs = 250;

} // namespace

void MainWindow::AskForLogbookRow() {
    char szCommand[32];
    snprintf(szCommand, sizeof(szCommand), "VNREQ,40,%u", static_cast<unsigned>(iLogbookRow));
    SendCommand(szCommand);
    bRowAwaited = true;
    rowClock.start();
}

// On the poll: a row whose request or answer was lost would leave the listing stuck for good.
void MainWindow::CheckLogbookRow() {
    if (!bRowAwaited || !rowClock.hasExpired(kRowTimeoutMs))
        return;
    qDebug("Logbook row %d asked for again", static_cast<int>(iLogbookRow));
    AskForLogbookRow();
}

// Fills the row that was asked for and asks for the next one.
void MainWindow::TakeLogbookRow() {
    const common::LogbookEntry& entry = framer.parser.logbook;
    // An empty logbook answers with a count of 0: nothing to list, nothing more to ask.
    if (entry.uiFlightCount == 0) {
        bRowAwaited = false;
        return;
    }
    // A row nobody asked for must not land outside the table or shift the listing.
    if (!bRowAwaited || iLogbookRow < 0 || iLogbookRow >= kLogbookRows)
        return;
    FlightSlot& flight = aFlights[iLogbookRow];
    flight.dtStart = common::PackedTimeToDate(entry.uiPackedTime);
    flight.uiStartSec = entry.uiPackedTime % 86400u;
    flight.uiDailyNr = entry.uiDailyNr;
    flight.uiAux5 = entry.uiAux5;
    flight.uiFlightSize = entry.uiFlightSize;

    char szItem[100];
    snprintf(szItem, sizeof(szItem), "%s-%s", common::FormatDate(flight.dtStart, 0),
             common::FormatTime(flight.uiStartSec, false, true));
    pFlightCombo->insertItem(pFlightCombo->count(), QIcon(), QString::fromLatin1(szItem));

    iLogbookRow++;
    if (iLogbookRow < kLogbookRows && iLogbookRow < entry.uiFlightCount)
        AskForLogbookRow();
    else
        bRowAwaited = false;
}

void MainWindow::EmptyLogbook() {
    SendCommand("VNREQ,39");
    pFlightCombo->clear();
    iLogbookRow = -1;
    bRowAwaited = false;
}

void MainWindow::DownloadFlight() {
    const int iRow = pFlightCombo->currentIndex();
    if (iRow < 0 || iRow >= kLogbookRows) {
        qDebug("No flight listed to download");
        return;
    }
    // Nothing could answer, and during an update raw mode would swallow the loader's requests.
    if (bUpdating || !pSerialPort->isOpen()) {
        qDebug("Instrument not ready for a download");
        return;
    }
    if (aFlights[iRow].uiFlightSize / kPartSize + 1 > kMaxParts) {
        qDebug("Flight is too long to download");
        return;
    }
    byFlightIdx = static_cast<uint8_t>(iRow);
    SetRawMode(true);
    uiPartNr = 0;
    pDownloadProgress->setValue(0);
    baFlight.clear();
    pSerialPort->flush();
    uiTriedPartNr = 0;
    byPartTries = 0;
    SettleLine();
}

// While the port's bytes are flight data, Save stays off: the instrument's answer would land among them.
void MainWindow::SetRawMode(bool bOn) {
    bRawMode = bOn;
    pSaveButton->setEnabled(!bOn);
    pSave2Button->setEnabled(!bOn);
}

// Drops what waits on the port; the tick asks for the part once nothing more has come for a while.
void MainWindow::SettleLine() {
    if (pSerialPort->isOpen())
        pSerialPort->clear(QSerialPort::Input);
    bSettling = true;
    quietClock.start();
    // The wait counts into the part's time: a line that never falls quiet is given up like a lost part.
    partClock.start();
}

void MainWindow::RequestFlightPart() {
    // Nothing asked for yet can be on its way: whatever waits is stray.
    if (pSerialPort->isOpen())
        pSerialPort->clear(QSerialPort::Input);
    char szCommand[32];
    snprintf(szCommand, sizeof(szCommand), "VNREQ,50,%u,%u", static_cast<unsigned>(byFlightIdx),
             static_cast<unsigned>(uiPartNr));
    partClock.start();
    SendCommand(szCommand);
}

// The raw download step: the port's bytes are flight data, taken a whole part at a time.
void MainWindow::ReadFlightPart() {
    if (bSettling) {
        pSerialPort->clear(QSerialPort::Input);
        quietClock.start();
        return;
    }
    const qint64 iWaiting = pSerialPort->bytesAvailable();
    if (iWaiting < kPartSize)
        return;
    // More than a part cannot be told apart from stray bytes.
    if (iWaiting > kPartSize) {
        RetryFlightPart();
        return;
    }
    baFlight.append(pSerialPort->read(kPartSize));
    const uint32_t uiFlightSize = aFlights[byFlightIdx].uiFlightSize;
    // An empty flight still takes one part; it has no share to show.
    pDownloadProgress->setValue(
        uiFlightSize == 0 ? 0 : static_cast<int>(static_cast<uint32_t>(uiPartNr) * 12800u / uiFlightSize));
    uiPartNr++;
    // A flight of an exact multiple of 128 bytes is followed by one more part, which is not written.
    if (static_cast<uint32_t>(uiPartNr) * kPartSize <= uiFlightSize) {
        pSerialPort->flush();
        qDebug() << "New flight " << static_cast<unsigned>(byFlightIdx) << "reguest part " << uiPartNr;
        RequestFlightPart();
        return;
    }
    SaveFlight();
}

// The whole flight or nothing: a file of that name is replaced only once every byte is on disk.
void MainWindow::SaveFlight() {
    const FlightSlot& flight = aFlights[byFlightIdx];
    const char* pszName = GetIGCFileName(flight.dtStart.uiDayNumber, static_cast<uint8_t>(flight.uiDailyNr),
                                         framer.parser.info.uiSerial);
    QSaveFile file(QString::fromLatin1(pszName));
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug("Errror opening flight file!");
    } else if (file.write(baFlight.constData(), flight.uiFlightSize) != flight.uiFlightSize ||
               !file.commit()) {
        qDebug("Flight file could not be written!");
    } else {
        qDebug("Flight download finished!");
        pDownloadProgress->setValue(0);
    }
    baFlight.clear();
    SetRawMode(false);
}

// On the one-second tick: the part is asked for once the line has fallen quiet, and taken as lost when it
// has not completed in time.
void MainWindow::CheckFlightStall() {
    if (!bRawMode)
        return;
    if (bSettling && quietClock.hasExpired(kQuietLineMs)) {
        bSettling = false;
        RequestFlightPart();
    } else if (partClock.hasExpired(kPartTimeoutMs)) {
        RetryFlightPart();
    }
}

// The stall recovery: what the line carries is stale, so it goes, and the same part is asked for again.
void MainWindow::RetryFlightPart() {
    // Tries are counted in a row: a part that completed ends the row.
    if (uiTriedPartNr != uiPartNr) {
        uiTriedPartNr = uiPartNr;
        byPartTries = 0;
    }
    if (++byPartTries > kMaxPartTries) {
        qDebug("Flight download given up, part %u did not arrive", static_cast<unsigned>(uiPartNr));
        EndFlightDownload();
        return;
    }
    qDebug("Flight part %u asked for again", static_cast<unsigned>(uiPartNr));
    SettleLine();
}

// Leaves raw mode without writing anything.
void MainWindow::EndFlightDownload() {
    SetRawMode(false);
    bSettling = false;
    baFlight.clear();
    pDownloadProgress->setValue(0);
}

const char* MainWindow::GetIGCSerial(uint32_t uiSerial) const {
    return common::FormatIGCSerial(uiSerial);
}

const char* MainWindow::GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const {
    return common::FormatIGCFileName(uiDt, byDailyNr, uiSerial);
}
