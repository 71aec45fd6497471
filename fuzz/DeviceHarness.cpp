// The device harness's set-up, its inputs and the window's steps through them.
#include "fuzz/DeviceHarness.h"
#include "fuzz/DeviceHarnessShared.h"

#include "app/MainWindow.h"
#include "sim/SimWire.h"

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

namespace deviceharness {

std::string sWorkDir;
std::mutex arrivedMutex;
std::string sArrived;
uint8_t abyUpdateImage[kUpdateImageSize];

} // namespace deviceharness

using namespace deviceharness;

namespace {

FILE* pFailureStream = nullptr;
// The fuzzer's own directory.
std::string sHomeDir;
std::string sUpdateDir;

} // namespace

void deviceharness::Fail(const char* pszFormat, ...) {
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

namespace {

const char* const kModels[] = {"Tovak_2", "Ulmar", "Pelko_2", "Tovak"};
// The update files: each the beginning of the image, ending inside a chunk, shorter than the header,
// empty, and the whole image of several chunks.
const uint32_t kUpdateSizes[] = {1000, 60, 0, kUpdateImageSize};

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
void MakeUpdateImage() {
    for (uint32_t i = 0; i < kUpdateImageSize; ++i) {
        const uint8_t by = static_cast<uint8_t>(1 + (i * 7 + i / 251) % 250);
        abyUpdateImage[i] = by == '$' ? 251 : by;
    }
}

void RemoveTempDirs() {
    for (const uint32_t uiSize : kUpdateSizes)
        unlink(UpdatePath(uiSize).c_str());
    rmdir(sUpdateDir.c_str());
    rmdir(sWorkDir.c_str());
}

// Framed by the simulated instrument's wire code, apart from the window's.
std::string Sentence(const char* pszBody) {
    char acFrame[256];
    return std::string(acFrame, sim::FrameSentence(pszBody, acFrame, sizeof acFrame));
}

} // namespace

// Yielding first, as a sleeping wait's
// wake-up takes longer than the terminal's usual turn; then sleeping, so that the worker is not kept
// from the processor by waits that spin on every core. False once kLineWaitMs have passed.
bool deviceharness::SpinUntil(const std::function<bool()>& bDone) {
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
    if (sim::Crc16Xmodem(reinterpret_cast<const uint8_t*>("123456789"), 9) != 0x31C3) {
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
    w.ForgetLink();
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
            w.download.partClock = agedClock;
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
    const bool bSettling = w.download.bSettling;
    const bool bChecking = w.download.bCheckingPart;
    const uint16_t uiCheckedBefore = w.download.uiCheckedParts;
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
            if (bSame && w.download.uiCheckedParts != uiPartBefore)
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
