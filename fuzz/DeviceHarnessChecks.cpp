// The device harness's checks: what the window sent, its rows, its download and its working directory.
#include "fuzz/DeviceHarness.h"
#include "fuzz/DeviceHarnessShared.h"

#include "app/MainWindow.h"
#include "sim/SimWire.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSerialPort>

#include <cctype>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

using namespace deviceharness;

namespace {

bool Literal(const char*& pc, const char* pszText) {
    const size_t uiLength = strlen(pszText);
    if (strncmp(pc, pszText, uiLength) != 0)
        return false;
    pc += uiLength;
    return true;
}

// A decimal as %u writes it, at most uiMax.
bool Number(const char*& pc, uint32_t uiMax, uint32_t* puiValue = nullptr) {
    if (!isdigit(static_cast<unsigned char>(*pc)) ||
        (pc[0] == '0' && isdigit(static_cast<unsigned char>(pc[1]))))
        return false;
    uint64_t uiValue = 0;
    while (isdigit(static_cast<unsigned char>(*pc))) {
        uiValue = uiValue * 10 + static_cast<uint64_t>(*pc++ - '0');
        if (uiValue > uiMax)
            return false;
    }
    if (puiValue != nullptr)
        *puiValue = static_cast<uint32_t>(uiValue);
    return true;
}

} // namespace

bool deviceharness::KnownCommand(const char* pc) {
    if (Literal(pc, "VNSET2,"))
        return strspn(pc, "0123456789-.,") == strlen(pc);
    uint32_t uiCode = 0;
    if (!Literal(pc, "VNREQ,") || !Number(pc, 65535, &uiCode))
        return false;
    switch (uiCode) {
    case 0:
    case 1:
    case 39:
    case 199:
        return *pc == '\0';
    case 40:
        return Literal(pc, ",") && Number(pc, kRows - 1) && *pc == '\0';
    case 50:
        return Literal(pc, ",") && Number(pc, kRows - 1) && Literal(pc, ",") && Number(pc, 65535) &&
               *pc == '\0';
    default:
        return false;
    }
}

// Takes what the window sent. With bAll, everything it sent until now: the mark goes out behind it.
void DeviceHarness::ReadLine(bool bAll) {
    auto Take = [this] {
        std::lock_guard<std::mutex> lock(arrivedMutex);
        sOutput += sArrived;
        sArrived.clear();
    };
    Take();
    if (bAll) {
        QSerialPort* pPort = pWindow->pSerialPort;
        auto Sent = [&] {
            pPort->waitForBytesWritten(0);
            return !pPort->isOpen() || pPort->bytesToWrite() == 0;
        };
        if (!SpinUntil(Sent))
            Fail("the window's bytes do not leave the port");
        if (write(iSlave, kMark, sizeof kMark) != static_cast<ssize_t>(sizeof kMark))
            Fail("the mark cannot be written");
        auto Marked = [&] {
            Take();
            return sOutput.size() >= sizeof kMark &&
                   memcmp(sOutput.data() + sOutput.size() - sizeof kMark, kMark, sizeof kMark) == 0;
        };
        if (!SpinUntil(Marked))
            Fail("the line lost the window's bytes");
        sOutput.resize(sOutput.size() - sizeof kMark);
    }
    CheckOutput(bAll);
}

// Commands and answers to update requests, in the order sent; an item not yet whole waits for its rest.
void DeviceHarness::CheckOutput(bool bAll) {
    size_t uiAt = 0;
    while (uiAt < sOutput.size()) {
        if (sOutput[uiAt] == '$') {
            const size_t uiEnd = CheckCommand(uiAt);
            if (uiEnd == 0)
                break;
            uiAt = uiEnd;
        } else if (!CheckReply(uiAt)) {
            break;
        }
    }
    sOutput.erase(0, uiAt);
    if (!bAll)
        return;
    if (!sOutput.empty())
        Fail("the window sent %zu bytes of an unfinished command or answer", sOutput.size());
    if (uiNextReply != aReplies.size())
        Fail("update request %zu got no answer", uiNextReply);
}

// The end of the command starting at uiAt, 0 when it is not whole yet.
size_t DeviceHarness::CheckCommand(size_t uiAt) {
    const size_t uiEnd = sOutput.find("\r\n", uiAt);
    if (uiEnd == std::string::npos) {
        if (sOutput.size() - uiAt > 1024)
            Fail("a command of more than 1024 bytes");
        return 0;
    }
    const std::string sCommand = sOutput.substr(uiAt, uiEnd - uiAt);
    const size_t uiStar = sCommand.size() - 3;
    if (sCommand.size() < 5 || sCommand[uiStar] != '*')
        Fail("command without checksum: %s", sCommand.c_str());
    uint8_t bySum = 0;
    for (size_t i = 1; i < uiStar; ++i)
        bySum ^= static_cast<uint8_t>(sCommand[i]);
    char szSum[3];
    snprintf(szSum, sizeof szSum, "%02X", bySum);
    if (sCommand.compare(uiStar + 1, 2, szSum) != 0)
        Fail("command with a wrong checksum: %s", sCommand.c_str());
    const std::string sBody = sCommand.substr(1, uiStar - 1);
    if (sBody.find('\0') != std::string::npos || !KnownCommand(sBody.c_str()))
        Fail("unknown command: %s", sCommand.c_str());
    return uiEnd + 2;
}

// Checks the answer at uiAt against the file; false when it is not whole yet.
bool DeviceHarness::CheckReply(size_t& uiAt) {
    if (uiNextReply == aReplies.size())
        Fail("the window sent %zu bytes that no request asked for", sOutput.size() - uiAt);
    const Reply& reply = aReplies[uiNextReply];
    // Erased flash beyond the end of the file.
    uint8_t abyExpected[kChunkSize + 2];
    memset(abyExpected, 0xFF, reply.uiLength);
    if (reply.uiOffset < uiUpdateSize)
        memcpy(abyExpected, abyUpdateImage + reply.uiOffset,
               std::min(reply.uiLength, uiUpdateSize - reply.uiOffset));
    size_t uiLength = reply.uiLength;
    if (reply.bCrc) {
        const uint16_t uiCrc = sim::Crc16Xmodem(abyExpected, reply.uiLength);
        abyExpected[uiLength++] = static_cast<uint8_t>(uiCrc & 0xFF);
        abyExpected[uiLength++] = static_cast<uint8_t>(uiCrc >> 8);
    }
    const size_t uiHave = std::min(uiLength, sOutput.size() - uiAt);
    if (memcmp(sOutput.data() + uiAt, abyExpected, uiHave) != 0)
        Fail("answer %zu is not the %zu bytes of the file at offset %u", uiNextReply, uiLength,
             reply.uiOffset);
    if (uiHave < uiLength)
        return false;
    uiAt += uiLength;
    ++uiNextReply;
    return true;
}

void DeviceHarness::CheckWindow() const {
    const MainWindow& w = *pWindow;
    // Nothing the harness does closes the port, and the terminal never fails.
    if (!w.pSerialPort->isOpen())
        Fail("the window let go of the port");
    const int iRow = w.iLogbookRow;
    if (iRow < -1 || iRow > kRows)
        Fail("logbook row index %d", iRow);
    if (w.pFlightCombo->count() != std::max(iRow, 0))
        Fail("%d flights listed while the listing stands at row %d", w.pFlightCombo->count(), iRow);
    if (w.bRowAwaited && (iRow < 0 || iRow >= kRows))
        Fail("row %d awaited", iRow);
    if (w.pSaveButton->isEnabled() == w.bRawMode)
        Fail("Save is %s %s a download", w.bRawMode ? "on" : "off", w.bRawMode ? "during" : "outside");
    if (!w.bRawMode) {
        if (w.download.bSettling || w.download.bCheckingPart || !w.baFlight.isEmpty())
            Fail("a settling line or flight bytes outside a download");
        return;
    }
    if (w.byFlightIdx >= kRows)
        Fail("download of row %u", w.byFlightIdx);
    const uint32_t uiFlightSize = w.aFlights[w.byFlightIdx].uiFlightSize;
    // Past the flight's end the line only settles for the last check.
    const bool bPastEnd = static_cast<uint32_t>(w.uiPartNr) * kPartSize > uiFlightSize;
    if (w.uiPartNr > uiFlightSize / kPartSize + 1 ||
        (bPastEnd && !w.download.bSettling && !w.download.bCheckingPart))
        Fail("part %u of a flight of %u bytes awaited", w.uiPartNr, uiFlightSize);
    if (w.baFlight != baExpectedFlight)
        Fail("the download holds %lld bytes other than the %lld taken from the line",
             static_cast<long long>(w.baFlight.size()), static_cast<long long>(baExpectedFlight.size()));
}

// A part the window may drop: a copy of one it took before.
bool DeviceHarness::IsCopyOfTaken(const QByteArray& baPart) const {
    for (qsizetype i = 0; i + kPartSize <= baExpectedFlight.size(); i += kPartSize) {
        if (baExpectedFlight.mid(i, kPartSize) == baPart)
            return true;
    }
    return false;
}

// Rows outside [iFrom, iTo) are as they were.
void DeviceHarness::CheckRowsKept(int iFrom, int iTo, const uint8_t* pbyBefore) const {
    const uint8_t* pbyNow = reinterpret_cast<const uint8_t*>(pWindow->aFlights);
    for (int i = 0; i < kRows; ++i) {
        if (i >= iFrom && i < iTo)
            continue;
        if (memcmp(pbyNow + i * sizeof(FlightSlot), pbyBefore + i * sizeof(FlightSlot), sizeof(FlightSlot)) !=
            0)
            Fail("row %d changed, rows %d to %d were being listed", i, iFrom, iTo - 1);
    }
}

// The working directory holds nothing but the flight just saved, if any.
void DeviceHarness::CheckWorkDir(const char* pszSaved) const {
    DIR* pDir = opendir(".");
    if (pDir == nullptr)
        Fail("the working directory cannot be read");
    bool bFound = false;
    while (const dirent* pEntry = readdir(pDir)) {
        if (strcmp(pEntry->d_name, ".") == 0 || strcmp(pEntry->d_name, "..") == 0)
            continue;
        if (pszSaved != nullptr && strcmp(pEntry->d_name, pszSaved) == 0)
            bFound = true;
        else
            Fail("the working directory holds %s", pEntry->d_name);
    }
    closedir(pDir);
    if (pszSaved != nullptr && !bFound)
        Fail("the downloaded flight was not saved as %s", pszSaved);
}

// The file holds the flight's bytes as the line carried them, no more; it goes, so the next is new.
void DeviceHarness::CheckSavedFlight(const char* pszName) const {
    const MainWindow& w = *pWindow;
    const uint32_t uiFlightSize = w.aFlights[w.byFlightIdx].uiFlightSize;
    QFile file(QString::fromLatin1(pszName));
    if (!file.open(QIODevice::ReadOnly))
        Fail("%s cannot be read", pszName);
    const QByteArray baFile = file.readAll();
    if (baFile.size() != static_cast<qsizetype>(uiFlightSize) ||
        baFile != baExpectedFlight.left(static_cast<qsizetype>(uiFlightSize)))
        Fail("%s holds %lld bytes, not the flight's %u as the line carried them", pszName,
             static_cast<long long>(baFile.size()), uiFlightSize);
    file.remove();
}
