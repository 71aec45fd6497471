#include "fuzz/DeviceHarness.h"

#include "app/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSerialPort>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

FILE* pFailureStream = nullptr;
// The fuzzer's own directory, and the one the window works in while it takes an input.
std::string sHomeDir;
std::string sWorkDir;
std::string sUpdateDir;

[[noreturn]] void Fail(const char* pszFormat, ...) {
    // The fuzzer writes the input's file on abort, by a path that may be relative to its own directory.
    if (!sHomeDir.empty() && chdir(sHomeDir.c_str()) != 0)
        perror("chdir");
    FILE* pOut = pFailureStream != nullptr ? pFailureStream : stderr;
    va_list args;
    va_start(args, pszFormat);
    fprintf(pOut, "device harness: ");
    vfprintf(pOut, pszFormat, args);
    fprintf(pOut, "\n");
    va_end(args);
    fflush(pOut);
    abort();
}

// Each step costs a few turns of the terminal, and every update request half a kilobyte of answer:
// inputs longer than this add nothing but time.
constexpr int kMaxSteps = 32;
constexpr size_t kMaxLineBytes = 2048;
constexpr int kRows = 50;
constexpr uint32_t kPartSize = 128;
constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kChunkSize = 512;
// Far beyond the terminal's slowest turn: a machine busy writing to its disk has been seen to hold the
// line for seconds. Within the fuzzer's time-out of 30 s, so that a report says what the line did.
constexpr int kLineWaitMs = 20000;
// Turns of the wait that yield before it sleeps.
constexpr unsigned kSpinTurns = 64;
// Older than every time-out of the window, the longest being 3000 ms for a logbook row or a part.
constexpr qint64 kAgedMs = 3100;

const char* const kModels[] = {"Tovak_2", "Ulmar", "Pelko_2", "Tovak"};
// The update files: each the beginning of one image (below), ending inside a chunk, shorter than the
// header, empty, and the whole image of several chunks.
constexpr uint32_t kUpdateImageSize = 2000;
const uint32_t kUpdateSizes[] = {1000, 60, 0, kUpdateImageSize};
// Follows the window's bytes at the end of an input: no command ends in NUL and no update byte is NUL.
const char kMark[] = {'\0', '\0', 'E', 'N', 'D', '\0', '\0'};

enum Scenario { Fresh, Listing, Download, Update };
// Update and Connect are left out: each closes the port, and opening it again costs milliseconds, which
// would slow the fuzzer tenfold.
enum Action { Nothing, Tick, PressDownload, PressEmpty, PressSave, ToggleOutput };

Action ActionOf(uint8_t byAction) {
    const unsigned uiAction = byAction & 7u;
    return uiAction <= ToggleOutput ? static_cast<Action>(uiAction) : Nothing;
}
// Clocks that a tick finds expired, in the bits above the action. The update's is not among them: its
// watchdog closes the port.
enum AgedClock { RowClock = 1, PartClock = 2, QuietClock = 4 };

// What the instrument's end of the line has read and the harness has not looked at yet.
std::mutex arrivedMutex;
std::string sArrived;

// The instrument's end reads the line all the time, as an instrument does: the window may wait until the
// line has taken its bytes before it goes on.
void ReadInstrumentEnd(int iMaster) {
    char acBuffer[4096];
    for (;;) {
        pollfd pfd = {iMaster, POLLIN, 0};
        if (poll(&pfd, 1, -1) < 0 && errno != EINTR)
            return;
        const ssize_t iRead = read(iMaster, acBuffer, sizeof acBuffer);
        if (iRead > 0) {
            std::lock_guard<std::mutex> lock(arrivedMutex);
            sArrived.append(acBuffer, static_cast<size_t>(iRead));
        }
    }
}

std::string UpdatePath(uint32_t uiSize) {
    return sUpdateDir + "/update-" + std::to_string(uiSize) + ".vnu";
}

// No byte of the image is "$", so that an answer cannot be taken for a command, and none is NUL.
uint8_t abyUpdateImage[kUpdateImageSize];

void MakeUpdateImage() {
    for (uint32_t i = 0; i < kUpdateImageSize; ++i) {
        const uint8_t by = static_cast<uint8_t>(1 + (i * 7 + i / 251) % 250);
        abyUpdateImage[i] = by == '$' ? 251 : by;
    }
}

// CRC-16/XMODEM bit by bit, apart from the window's table.
uint16_t Crc16(const uint8_t* pbyData, size_t uiSize) {
    uint16_t uiCrc = 0;
    for (size_t i = 0; i < uiSize; ++i) {
        uiCrc ^= static_cast<uint16_t>(pbyData[i] << 8);
        for (int iBit = 0; iBit < 8; ++iBit)
            uiCrc = static_cast<uint16_t>(uiCrc & 0x8000 ? (uiCrc << 1) ^ 0x1021 : uiCrc << 1);
    }
    return uiCrc;
}

// Gives the terminal's worker the processor until bDone holds. Yielding first, as a sleeping wait's
// wake-up takes longer than the terminal's usual turn; then sleeping, so that the worker is not kept
// from the processor by waits that spin on every core. False once kLineWaitMs have passed.
template <typename Done> bool SpinUntil(Done bDone) {
    QElapsedTimer clock;
    clock.start();
    for (unsigned uiTurn = 1; !bDone(); ++uiTurn) {
        if (uiTurn % 1024 == 0 && clock.hasExpired(kLineWaitMs))
            return false;
        if (uiTurn < kSpinTurns)
            sched_yield();
        else
            usleep(20);
    }
    return true;
}

void RemoveTempDirs() {
    for (const uint32_t uiSize : kUpdateSizes)
        unlink(UpdatePath(uiSize).c_str());
    rmdir(sUpdateDir.c_str());
    rmdir(sWorkDir.c_str());
}

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

// The commands the window may send, every row and flight number inside the table.
bool KnownCommand(const char* pc) {
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

std::string Sentence(const char* pszBody) {
    uint8_t bySum = 0;
    for (const char* pc = pszBody; *pc != '\0'; ++pc)
        bySum ^= static_cast<uint8_t>(*pc);
    char szTail[8];
    snprintf(szTail, sizeof szTail, "*%02X\r\n", bySum);
    return std::string("$") + pszBody + szTail;
}

} // namespace

void DeviceHarness::SetFailureStream(FILE* pStream) {
    pFailureStream = pStream;
}

bool DeviceHarness::SetUp() {
    static int iArgc = 1;
    static char szProgram[] = "fuzz_device";
    static char* apszArgv[] = {szProgram, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // On one processor the terminal's worker runs beside the harness, which hands it the processor while
    // it waits; across processors every turn of the terminal costs a wake-up of the other one.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(sched_getcpu(), &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);
    // The window's debug lines cost time and tell the fuzzer nothing.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QApplication* pApplication = new QApplication(iArgc, apszArgv);
    (void)pApplication;

    char szSlave[128];
    if (openpty(&iMaster, &iSlave, szSlave, nullptr, nullptr) != 0) {
        perror("openpty");
        return false;
    }
    // The port sets the same when it opens; until then the line must not echo.
    termios tio;
    tcgetattr(iSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(iSlave, TCSANOW, &tio);
    fcntl(iMaster, F_SETFL, fcntl(iMaster, F_GETFL) | O_NONBLOCK);
    std::thread(ReadInstrumentEnd, iMaster).detach();

    // In memory where the system offers it: every saved flight is synced to its disk.
    const std::string sBase = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    sWorkDir = sBase + "/fuzz-device-XXXXXX";
    sUpdateDir = sBase + "/fuzz-device-vnu-XXXXXX";
    if (mkdtemp(&sWorkDir[0]) == nullptr || mkdtemp(&sUpdateDir[0]) == nullptr) {
        perror("mkdtemp");
        return false;
    }
    atexit(RemoveTempDirs);
    // The check value of the definition.
    if (Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9) != 0x31C3) {
        fprintf(stderr, "device harness: CRC-16 check value wrong\n");
        return false;
    }
    MakeUpdateImage();
    for (const uint32_t uiSize : kUpdateSizes) {
        FILE* pFile = fopen(UpdatePath(uiSize).c_str(), "wb");
        if (pFile == nullptr || fwrite(abyUpdateImage, 1, uiSize, pFile) != uiSize || fclose(pFile) != 0) {
            perror("update file");
            return false;
        }
    }
    char szHome[4096];
    if (getcwd(szHome, sizeof szHome) == nullptr) {
        perror("getcwd");
        return false;
    }
    sHomeDir = szHome;

    setenv("VORNIK_EXTRA_PORTS", szSlave, 1);
    pWindow = new MainWindow;
    pWindow->findChild<QTimer*>(QStringLiteral("pollTimer"))->stop();
    pWindow->pPortCombo->setCurrentIndex(pWindow->pPortCombo->findText(QString::fromLocal8Bit(szSlave)));
    pWindow->Connect();
    pWindow->EverySecond();
    if (!pWindow->pSerialPort->isOpen()) {
        fprintf(stderr, "device harness: the window did not open %s\n", szSlave);
        return false;
    }
    // A clock started this long ago stands in for every clock whose time a tick finds passed.
    agedClock.start();
    while (!agedClock.hasExpired(kAgedMs))
        usleep(10000);
    return true;
}

void DeviceHarness::Run(const uint8_t* pbyData, size_t uiSize) {
    size_t uiAt = 0;
    auto Next = [&]() -> uint8_t { return uiAt < uiSize ? pbyData[uiAt++] : 0; };
    const uint8_t bySetup = Next();
    const uint8_t byParam = Next();
    // Only while it takes an input: the fuzzer reads and writes its files by paths given relative to its
    // own directory.
    if (chdir(sWorkDir.c_str()) != 0)
        Fail("the working directory cannot be entered");
    Reset(bySetup);
    SetUpScenario(bySetup, byParam);
    QByteArray baLine;
    size_t uiLineBytes = 0;
    for (int iStep = 0; iStep < kMaxSteps && uiAt < uiSize && uiLineBytes < kMaxLineBytes; ++iStep) {
        const uint8_t byAction = Next();
        const size_t uiLength = std::min({size_t{Next()}, uiSize - uiAt, kMaxLineBytes - uiLineBytes});
        uiLineBytes += uiLength;
        Act(byAction);
        baLine.append(reinterpret_cast<const char*>(pbyData + uiAt), static_cast<qsizetype>(uiLength));
        uiAt += uiLength;
        // In text mode the framer takes every byte in order wherever a read of the port ends: bytes that no
        // action separates go out in one turn of the terminal.
        if (!pWindow->bRawMode && uiAt < uiSize && iStep + 1 < kMaxSteps && uiLineBytes < kMaxLineBytes &&
            ActionOf(pbyData[uiAt]) == Nothing)
            continue;
        Deliver(reinterpret_cast<const uint8_t*>(baLine.constData()), static_cast<size_t>(baLine.size()));
        baLine.clear();
    }
    ReadLine(true);
    CheckWorkDir(nullptr);
    if (chdir(sHomeDir.c_str()) != 0)
        Fail("the fuzzer's directory cannot be entered again");
}

// A freshly connected window, as after a disconnection and a new connection, its framer new.
void DeviceHarness::Reset(uint8_t bySetup) {
    MainWindow& w = *pWindow;
    w.iOpenTicks = -1;
    w.framer = BasicNMEA();
    w.pFlightCombo->clear();
    w.iLogbookRow = -1;
    w.bRowAwaited = false;
    w.EndFlightDownload();
    w.bUpdating = false;
    w.uiChunkId = 0;
    w.fileUpdate.close();
    w.pSerialPort->clear(QSerialPort::Input);
    w.pEnableOutputCheck->setChecked(false);
    if (!w.pSentText->document()->isEmpty() || !w.pReceivedText->document()->isEmpty())
        w.ClearDebug();

    bRepair = (bySetup & 0x10) == 0;
    bInBody = false;
    byChecksum = 0;
    iChecksumDigits = 0;
    uiUpdateSize = 0;
    baExpectedFlight.clear();
    aReplies.clear();
    uiNextReply = 0;
}

// The setup byte: scenario in bits 0-1, model in bits 2-3, checksums left as they come in bit 4, an
// option of the scenario in bit 5, the update file in bits 6-7.
void DeviceHarness::SetUpScenario(uint8_t bySetup, uint8_t byParam) {
    MainWindow& w = *pWindow;
    char szBody[64];
    snprintf(szBody, sizeof szBody, "VNINFO2,%s,A7,12345,1,4,7,2.0", kModels[(bySetup >> 2) & 3]);
    const std::string sKnown = Sentence(szBody) + Sentence("VNSET2,5,1.5,50,3,4711,2");
    const bool bOption = (bySetup & 0x20) != 0;
    switch (bySetup & 3) {
    case Fresh:
        break;
    case Listing: {
        TakeSentences(sKnown);
        Act(Tick);
        // The option has the listing of a long logbook near its end: 47 to 49 rows taken.
        std::string sRows;
        for (unsigned i = 0; bOption && i < 47u + byParam % 3u; ++i) {
            snprintf(szBody, sizeof szBody, "VNLOGBOOK,70,%u,%u,1954763110,600,%u", i, i % 4, i * 50);
            sRows += Sentence(szBody);
        }
        TakeSentences(sRows);
        break;
    }
    case Download:
        TakeSentences(sKnown);
        Act(Tick);
        // Row 0's size comes from the parameter byte; the option leaves the line settling before part 0.
        snprintf(szBody, sizeof szBody, "VNLOGBOOK,3,0,1,1954763110,600,%u", byParam * 3u);
        TakeSentences(Sentence(szBody) + Sentence("VNLOGBOOK,3,1,1,2067066300,900,300") +
                      Sentence("VNLOGBOOK,3,2,2,1954772430,60,256"));
        Act(PressDownload | 1 << 3);
        if (!bOption)
            Act(Tick | QuietClock << 3);
        break;
    case Update:
        // As the file dialog's choice would open it; the option has the loader ask for the header.
        uiUpdateSize = kUpdateSizes[bySetup >> 6];
        w.fileUpdate.setFileName(QString::fromStdString(UpdatePath(uiUpdateSize)));
        if (!w.fileUpdate.open(QIODevice::ReadOnly))
            Fail("update file %s does not open", UpdatePath(uiUpdateSize).c_str());
        w.uiChunkId = 0;
        TakeSentences(bOption ? sKnown + Sentence("VNREQ,200") : sKnown);
        break;
    }
}

// The action byte: the action in bits 0-2; above them the clocks a tick finds expired, or for Download
// the flight list's index plus one.
void DeviceHarness::Act(uint8_t byAction) {
    MainWindow& w = *pWindow;
    const unsigned uiArg = byAction >> 3;
    switch (ActionOf(byAction)) {
    case Tick:
        if (uiArg & RowClock)
            w.rowClock = agedClock;
        if (uiArg & PartClock)
            w.partClock = agedClock;
        // The quiet-line guard runs out before the tick, as its own timer would.
        if (uiArg & QuietClock)
            w.LineFellQuiet();
        w.EverySecond();
        break;
    case PressDownload:
        w.pFlightCombo->setCurrentIndex(static_cast<int>(uiArg) - 1);
        w.DownloadFlight();
        break;
    case PressEmpty:
        w.EmptyLogbook();
        break;
    case PressSave:
        w.WriteSettings();
        break;
    case ToggleOutput:
        w.pEnableOutputCheck->toggle();
        break;
    default:
        break;
    }
    // A download started afresh has taken nothing yet.
    if (w.bRawMode && w.uiPartNr == 0)
        baExpectedFlight.clear();
    CheckWindow();
}

// The setup's sentences skip the terminal, whose turn costs more than the rest of an input: the window's
// framer takes them, and the window acts on each one it completes as the port reader does.
void DeviceHarness::TakeSentences(const std::string& sText) {
    MainWindow& w = *pWindow;
    if (w.fileUpdate.isOpen())
        ExpectRepliesTo(QByteArray::fromStdString(sText));
    for (const char c : sText) {
        w.framer.ProcessByte(static_cast<uint8_t>(c));
        w.ActOnSentence(w.framer.uiLastCode);
    }
    ReadLine(false);
    CheckWindow();
}

// The bytes reach the port all at once, and the port's own reader takes them as it would from the event
// loop. Raw mode is judged by the rule of the download: a part is taken when exactly 128 bytes wait.
void DeviceHarness::Deliver(const uint8_t* pbyData, size_t uiSize) {
    MainWindow& w = *pWindow;
    if (uiSize == 0)
        return;
    QByteArray baChunk(reinterpret_cast<const char*>(pbyData), static_cast<qsizetype>(uiSize));
    if (bRepair)
        RepairChecksums(reinterpret_cast<uint8_t*>(baChunk.data()), uiSize);
    const bool bRaw = w.bRawMode;
    const bool bSettling = w.bSettling;
    const bool bChecking = w.bCheckingPart;
    const uint16_t uiCheckedBefore = w.uiCheckedParts;
    const bool bAnswering = !bRaw && w.fileUpdate.isOpen();
    const QByteArray baWaiting = w.pSerialPort->peek(w.pSerialPort->bytesAvailable()) + baChunk;
    const uint16_t uiPartBefore = w.uiPartNr;
    const int iRowBefore = w.iLogbookRow;
    uint8_t abyRowsBefore[sizeof w.aFlights];
    memcpy(abyRowsBefore, static_cast<const void*>(w.aFlights), sizeof w.aFlights);
    char szFlightName[64] = "";
    if (bRaw) {
        const FlightSlot& flight = w.aFlights[w.byFlightIdx];
        snprintf(szFlightName, sizeof szFlightName, "%s",
                 w.GetIGCFileName(flight.dtStart.uiDayNumber, static_cast<uint8_t>(flight.uiDailyNr),
                                  w.framer.parser.info.uiSerial));
    } else if (bAnswering) {
        ExpectRepliesTo(baWaiting);
    }

    WriteToLine(reinterpret_cast<const uint8_t*>(baChunk.constData()), uiSize);
    if (!w.pSerialPort->waitForReadyRead(kLineWaitMs))
        Fail("the port did not take %zu bytes from the line", uiSize);

    if (!bRaw) {
        if (bAnswering && (shadow.uiState != w.framer.uiState || shadow.byLength != w.framer.byLength))
            Fail("the framer was fed other bytes than the line carried");
        CheckRowsKept(iRowBefore, w.iLogbookRow, abyRowsBefore);
    } else {
        CheckRowsKept(0, 0, abyRowsBefore);
        const bool bWhole = !bSettling && baWaiting.size() == static_cast<qsizetype>(kPartSize);
        const bool bTaken = !bChecking && w.uiPartNr != uiPartBefore;
        bool bSaved = false;
        if (bChecking && bWhole) {
            // A check passes when the last part taken came again as it was; else the parts since the
            // last check are fetched anew.
            const bool bSame = baExpectedFlight.mid((uiPartBefore - 1) * kPartSize, kPartSize) == baWaiting;
            if (bSame && w.uiCheckedParts != uiPartBefore)
                Fail("part %u came again as taken, yet is not counted checked", uiPartBefore - 1u);
            if (!bSame && w.bRawMode && w.uiPartNr != uiCheckedBefore)
                Fail("a failed check went back to part %u, not %u", w.uiPartNr, uiCheckedBefore);
            if (!bSame)
                baExpectedFlight.truncate(uiCheckedBefore * kPartSize);
            bSaved = bSame && !w.bRawMode;
        } else if (bTaken != bWhole && !(bWhole && IsCopyOfTaken(baWaiting))) {
            Fail("%s part %u with %lld bytes waiting%s", bTaken ? "took" : "left", uiPartBefore,
                 static_cast<long long>(baWaiting.size()), bSettling ? " while the line settled" : "");
        }
        if (bTaken && w.uiPartNr != uiPartBefore + 1)
            Fail("part count went from %u to %u", uiPartBefore, w.uiPartNr);
        if (bTaken)
            baExpectedFlight += baWaiting;
        CheckWorkDir(bSaved ? szFlightName : nullptr);
        if (bSaved)
            CheckSavedFlight(szFlightName);
    }
    ReadLine(false);
    CheckWindow();
}

// The instrument's update requests among the bytes, found by a copy of the window's framer: with a file
// open, the window must answer each one.
void DeviceHarness::ExpectRepliesTo(const QByteArray& baBytes) {
    const MainWindow& w = *pWindow;
    shadow = w.framer;
    for (const char c : baBytes) {
        shadow.ProcessByte(static_cast<uint8_t>(c));
        if (shadow.uiLastCode != common::CodeRequest)
            continue;
        const common::DeviceRequest& request = shadow.parser.request;
        if (request.uiCode == 200)
            aReplies.push_back({0, kHeaderSize, false});
        else if (request.uiCode == 201)
            aReplies.push_back({request.auiArg[0] * kChunkSize + kHeaderSize, kChunkSize, true});
    }
}

void DeviceHarness::WriteToLine(const uint8_t* pbyData, size_t uiSize) {
    size_t uiDone = 0;
    auto Written = [&] {
        const ssize_t iWritten = write(iMaster, pbyData + uiDone, uiSize - uiDone);
        if (iWritten > 0)
            uiDone += static_cast<size_t>(iWritten);
        return uiDone == uiSize;
    };
    if (!SpinUntil(Written))
        Fail("the line took %zu of %zu bytes", uiDone, uiSize);
    // The terminal hands the bytes over a moment later; the port must find all of them.
    int iWaiting = 0;
    auto Arrived = [&] {
        return ioctl(iSlave, FIONREAD, &iWaiting) == 0 && iWaiting >= static_cast<int>(uiSize);
    };
    if (!SpinUntil(Arrived))
        Fail("the line delivered %d of %zu bytes", iWaiting, uiSize);
}

// Every "*" followed by the right checksum of its sentence, so that the bytes reach the handlers; the
// sentence may run over several chunks.
void DeviceHarness::RepairChecksums(uint8_t* pbyData, size_t uiSize) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < uiSize; ++i) {
        const uint8_t by = pbyData[i];
        if (iChecksumDigits > 0) {
            pbyData[i] =
                static_cast<uint8_t>(kHexDigits[iChecksumDigits-- == 2 ? byChecksum >> 4 : byChecksum & 15]);
        } else if (by == '$' || (!bInBody && by == '!')) {
            bInBody = true;
            byChecksum = 0;
        } else if (bInBody && by == '*') {
            bInBody = false;
            iChecksumDigits = 2;
        } else if (bInBody) {
            byChecksum ^= by;
        }
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
        const uint16_t uiCrc = Crc16(abyExpected, reply.uiLength);
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
        if (w.bSettling || w.bCheckingPart || !w.baFlight.isEmpty())
            Fail("a settling line or flight bytes outside a download");
        return;
    }
    if (w.byFlightIdx >= kRows)
        Fail("download of row %u", w.byFlightIdx);
    const uint32_t uiFlightSize = w.aFlights[w.byFlightIdx].uiFlightSize;
    // Past the flight's end the line only settles for the last check.
    const bool bPastEnd = static_cast<uint32_t>(w.uiPartNr) * kPartSize > uiFlightSize;
    if (w.uiPartNr > uiFlightSize / kPartSize + 1 || (bPastEnd && !w.bSettling && !w.bCheckingPart))
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
