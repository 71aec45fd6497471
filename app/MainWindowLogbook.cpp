#include "app/MainWindow.h"

#include "common/Formats.h"
#include "common/JulianDate.h"

#include <QComboBox>
#include <QDebug>
#include <QIcon>
#include <QProgressBar>
#include <QSaveFile>
#include <QSerialPort>

#include <stdio.h>

namespace {

// Three base-36 characters and the terminator. GetIGCFileName forms its serial text here too.
char szIGCSerial[4];

// Base-36 digits; the closing '~' is never reached.
const char kszSerialDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ~";

// The instrument sends every flight part as exactly this many bytes, the last one padded.
constexpr uint32_t kPartSize = 128;
// Parts are counted in 16 bits.
constexpr uint32_t kMaxParts = 65535;
// A part not complete this long after its request is taken as lost...
constexpr qint64 kPartTimeoutMs = 3000;
// ...and asked for again at most this many times in a row.
constexpr uint8_t kMaxPartTries = 3;

} // namespace

// Fills the row that was asked for and asks for the next one.
void MainWindow::TakeLogbookRow() {
    // A row nobody asked for must not land outside the table or shift the listing.
    if (iLogbookRow < 0 || iLogbookRow >= kLogbookRows)
        return;
    const common::LogbookEntry& entry = framer.parser.logbook;
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
    if (iLogbookRow < kLogbookRows && iLogbookRow < entry.uiFlightCount) {
        char szCommand[32];
        snprintf(szCommand, sizeof(szCommand), "VNREQ,40,%u", static_cast<unsigned>(iLogbookRow));
        SendCommand(szCommand);
    }
}

void MainWindow::EmptyLogbook() {
    SendCommand("VNREQ,39");
    pFlightCombo->clear();
    iLogbookRow = -1;
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
    bRawMode = true;
    uiPartNr = 0;
    pDownloadProgress->setValue(0);
    baFlight.clear();
    pSerialPort->flush();
    uiTriedPartNr = 0;
    byPartTries = 0;
    RequestFlightPart();
}

void MainWindow::RequestFlightPart() {
    char szCommand[32];
    snprintf(szCommand, sizeof(szCommand), "VNREQ,50,%u,%u", static_cast<unsigned>(byFlightIdx),
             static_cast<unsigned>(uiPartNr));
    partClock.start();
    SendCommand(szCommand);
}

// The raw download step: the port's bytes are flight data, taken a whole part at a time.
void MainWindow::ReadFlightPart() {
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
    bRawMode = false;
}

// On the one-second tick: a part that has not completed in time is taken as lost.
void MainWindow::CheckFlightStall() {
    if (bRawMode && partClock.hasExpired(kPartTimeoutMs))
        RetryFlightPart();
}

// The stall recovery: what waits on the port is stale, so it goes, and the same part is asked for again.
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
    if (pSerialPort->isOpen())
        pSerialPort->clear(QSerialPort::Input);
    qDebug("Flight part %u asked for again", static_cast<unsigned>(uiPartNr));
    RequestFlightPart();
}

// Leaves raw mode without writing anything.
void MainWindow::EndFlightDownload() {
    bRawMode = false;
    baFlight.clear();
    pDownloadProgress->setValue(0);
}

const char* MainWindow::GetIGCSerial(uint32_t uiSerial) const {
    // Only the low three base-36 digits fit the file name.
    const uint32_t uiRest = uiSerial % 46656u;
    szIGCSerial[0] = kszSerialDigits[uiRest / 1296u];
    szIGCSerial[1] = kszSerialDigits[uiRest % 1296u / 36u];
    szIGCSerial[2] = kszSerialDigits[uiRest % 36u];
    szIGCSerial[3] = '\0';
    return szIGCSerial;
}

const char* MainWindow::GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const {
    static char szFileName[35];
    const common::JulianDate date(uiDt);
    // The long IGC name: date, manufacturer code, serial and the flight's number of the day.
    snprintf(szFileName, sizeof(szFileName), "%04u-%02u-%02u-VNK-%s-%02u.igc",
             static_cast<unsigned>(date.Year()), static_cast<unsigned>(date.Month()),
             static_cast<unsigned>(date.Day()), GetIGCSerial(uiSerial), static_cast<unsigned>(byDailyNr));
    return szFileName;
}
