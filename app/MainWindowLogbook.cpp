// The logbook listing and the flight download with its recovery from stalled, late and repeated parts.
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
#include <QTimer>

#include <cstring>
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
constexpr int kQuietLineMs = 250;
// Progress in percent of the flight's bytes, from the part count: 100 % times the part's size.
constexpr uint32_t kPercentOfPart = 100 * kPartSize;

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

// Whether the entry is a flight listed already: the same start, number of the day and size. Two flights
// cannot share all three, so such an entry is a late answer to a row asked for again, or a second answer
// to one request.
bool MainWindow::IsListed(const common::LogbookEntry& entry) const {
    const uint32_t uiDay = common::PackedTimeToDate(entry.uiPackedTime).uiDayNumber;
    for (int i = 0; i < iLogbookRow && i < kLogbookRows; i++) {
        const FlightSlot& flight = aFlights[i];
        if (flight.dtStart.uiDayNumber == uiDay && flight.uiStartSec == entry.uiPackedTime % 86400u &&
            flight.uiDailyNr == entry.uiDailyNr && flight.uiFlightSize == entry.uiFlightSize)
            return true;
    }
    return false;
}

// Fills the row that was asked for and asks for the next one.
void MainWindow::TakeLogbookRow() {
    const common::LogbookEntry& entry = framer.parser.logbook;
    // An empty logbook answers with a count of 0: nothing to list, nothing more to ask.
    if (entry.uiFlightCount == 0) {
        bRowAwaited = false;
        return;
    }
    // A row nobody asked for must not land outside the table, and a repeated one must not shift the
    // listing: rows are filled in the order they come.
    if (!bRowAwaited || iLogbookRow < 0 || iLogbookRow >= kLogbookRows || IsListed(entry))
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
    pSerialPort->flush();
    download.Reset();
    StartFlightParts(0);
    SettleLine();
}

// Drops every part from uiFirstPart on; the download goes on from there.
void MainWindow::StartFlightParts(uint16_t uiFirstPart) {
    uiPartNr = uiFirstPart;
    baFlight.truncate(static_cast<qsizetype>(uiFirstPart) * kPartSize);
    ShowFlightProgress(uiFirstPart);
    download.uiCheckedParts = uiFirstPart;
    download.bCheckingPart = false;
    download.byPartRequests = 0;
    std::fill(std::begin(download.aPartCopies), std::end(download.aPartCopies), DownloadState::PartCopies());
    download.byNextAskedAgain = 1;
}

// While the port's bytes are flight data, Save stays off: the instrument's answer would land among them.
void MainWindow::SetRawMode(bool bOn) {
    bRawMode = bOn;
    pSaveButton->setEnabled(!bOn);
    pSave2Button->setEnabled(!bOn);
}

// The share of the flight before part uiPart, in percent; an empty flight has no share to show.
void MainWindow::ShowFlightProgress(uint16_t uiPart) {
    const uint32_t uiFlightSize = aFlights[byFlightIdx].uiFlightSize;
    pDownloadProgress->setValue(
        uiFlightSize == 0 ? 0
                          : static_cast<int>(static_cast<uint32_t>(uiPart) * kPercentOfPart / uiFlightSize));
}

// Drops what waits on the port; the part is asked for once nothing more has come for a while.
void MainWindow::SettleLine() {
    if (pSerialPort->isOpen())
        pSerialPort->clear(QSerialPort::Input);
    download.bSettling = true;
    pQuietTimer->start(kQuietLineMs);
    // The wait counts into the part's time: a line that never falls quiet is given up like a lost part.
    download.partClock.start();
}

// The line is quiet, so the next answer is to what is asked now. Parts taken since the last quiet line
// are checked first: the last of them is asked for once more and must come again as it was taken.
void MainWindow::LineFellQuiet() {
    if (!bRawMode || !download.bSettling)
        return;
    download.bSettling = false;
    download.bCheckingPart = uiPartNr > download.uiCheckedParts;
    RequestFlightPart(download.bCheckingPart ? uiPartNr - 1 : uiPartNr);
}

void MainWindow::RequestFlightPart(uint16_t uiPart) {
    // Nothing asked for yet can be on its way: whatever waits is stray.
    if (pSerialPort->isOpen())
        pSerialPort->clear(QSerialPort::Input);
    char szCommand[32];
    snprintf(szCommand, sizeof(szCommand), "VNREQ,50,%u,%u", static_cast<unsigned>(byFlightIdx),
             static_cast<unsigned>(uiPart));
    download.partClock.start();
    if (uiPart == uiPartNr && download.byPartRequests < UINT8_MAX)
        download.byPartRequests++;
    SendCommand(szCommand);
}

// The raw download step: the port's bytes are flight data, taken a whole part at a time.
void MainWindow::ReadFlightPart() {
    if (download.bSettling) {
        pSerialPort->clear(QSerialPort::Input);
        pQuietTimer->start(kQuietLineMs);
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
    const QByteArray baPart = pSerialPort->read(kPartSize);
    if (download.bCheckingPart) {
        CheckTakenParts(baPart);
        return;
    }
    if (IsRepeatedPart(baPart)) {
        qDebug("Repeated flight part dropped while part %u was awaited", static_cast<unsigned>(uiPartNr));
        return;
    }
    KeepPartCopies();
    baFlight.append(baPart);
    ShowFlightProgress(uiPartNr);
    uiPartNr++;
    // A flight of an exact multiple of 128 bytes is followed by one more part, which is not written.
    if (static_cast<uint32_t>(uiPartNr) * kPartSize <= aFlights[byFlightIdx].uiFlightSize) {
        pSerialPort->flush();
        qDebug() << "New flight " << static_cast<unsigned>(byFlightIdx) << "reguest part " << uiPartNr;
        RequestFlightPart(uiPartNr);
        return;
    }
    // The file is written once the last part has been checked.
    SettleLine();
}

// A part taken out of turn shifts every part behind it until the line next falls quiet, so the last part
// taken shows whether all since the last check are in their places. If not, they are fetched again.
void MainWindow::CheckTakenParts(const QByteArray& baPart) {
    download.bCheckingPart = false;
    const qsizetype iLastAt = static_cast<qsizetype>(uiPartNr - 1) * kPartSize;
    if (memcmp(baFlight.constData() + iLastAt, baPart.constData(), kPartSize) != 0) {
        if (++download.byRestarts > kMaxPartTries) {
            qDebug("Flight download given up, parts kept coming out of turn");
            EndFlightDownload();
            return;
        }
        qDebug("Flight parts %u to %u came out of turn, asked for again",
               static_cast<unsigned>(download.uiCheckedParts), static_cast<unsigned>(uiPartNr - 1));
        StartFlightParts(download.uiCheckedParts);
        SettleLine();
        return;
    }
    download.uiCheckedParts = uiPartNr;
    // The check's own answer may come twice as well.
    download.aPartCopies[0].byLeft++;
    if (static_cast<uint32_t>(uiPartNr) * kPartSize <= aFlights[byFlightIdx].uiFlightSize)
        RequestFlightPart(uiPartNr);
    else
        SaveFlight();
}

// Parts carry no number: a late answer to a part asked for again, or a second answer to one request,
// would be taken for the part awaited and shift every part behind it. Such an answer is a copy of a part
// taken before, so a copy of a part that may still have one on its way is dropped, as often as that part
// may have copies. Should the awaited part really hold the same bytes, its own answer is dropped then,
// and the part is asked for again: the bytes taken are the same either way.
bool MainWindow::IsRepeatedPart(const QByteArray& baPart) {
    for (DownloadState::PartCopies& copies : download.aPartCopies) {
        if (copies.byLeft > 0 && copies.uiPartNr < uiPartNr &&
            memcmp(baFlight.constData() + static_cast<qsizetype>(copies.uiPartNr) * kPartSize,
                   baPart.constData(), kPartSize) == 0) {
            copies.byLeft--;
            return true;
        }
    }
    return false;
}

// The part being taken may be answered again: once by an instrument that answers twice, and once more for
// each time it was asked for again.
void MainWindow::KeepPartCopies() {
    if (download.byPartRequests > 1) {
        download.aPartCopies[download.byNextAskedAgain] = {uiPartNr,
                                                           static_cast<uint8_t>(download.byPartRequests - 1)};
        download.byNextAskedAgain = download.byNextAskedAgain + 1 < DownloadState::kKeptPartCopies
                                        ? download.byNextAskedAgain + 1
                                        : 1;
    }
    download.aPartCopies[0] = {uiPartNr, 1};
    download.byPartRequests = 0;
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

// On the one-second tick: a part that has not completed in time is taken as lost.
void MainWindow::CheckFlightStall() {
    if (bRawMode && download.partClock.hasExpired(kPartTimeoutMs))
        RetryFlightPart();
}

// The stall recovery: what the line carries is stale, so it goes, and the part is asked for again once
// the line is quiet.
void MainWindow::RetryFlightPart() {
    // Tries are counted in a row: a part that completed ends the row.
    if (download.uiTriedPartNr != uiPartNr) {
        download.uiTriedPartNr = uiPartNr;
        download.byPartTries = 0;
    }
    if (++download.byPartTries > kMaxPartTries) {
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
    download.Reset();
    pQuietTimer->stop();
    baFlight.clear();
    pDownloadProgress->setValue(0);
}

const char* MainWindow::GetIGCSerial(uint32_t uiSerial) const {
    return common::FormatIGCSerial(uiSerial);
}

const char* MainWindow::GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const {
    return common::FormatIGCFileName(uiDt, byDailyNr, uiSerial);
}
