// The line's pace. Each direction has a wire of its own; a byte waits on it until its last bit would
// have crossed the cable, and bytes are handed on a few at a time, so that the tool sees parts and
// sentences grow as through a real adapter and the instrument reads the tool's bytes no sooner than
// they could have come.
#include "sim/SimInstrument.h"

#include <QSocketNotifier>

#include <cerrno>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kBitsPerByte = 10; // start bit, eight data bits, stop bit
// Bytes the instrument takes per wake-up of a busy wire: about 1.4 ms at 115200 baud.
constexpr qsizetype kSliceBytes = 16;
// A tool that does not read fills the pseudo-terminal: the wire tries again this much later.
constexpr int64_t kFullLineRetryNs = 1000000;

int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

} // namespace

bool SimInstrument::SetLineBaud(int iBaud) {
    iLineBaud = qMax(0, iBaud);
    if (IsPaced() && iPaceFd < 0) {
        iPaceFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (iPaceFd < 0) {
            iLineBaud = 0;
        } else {
            pPaceNotifier = new QSocketNotifier(iPaceFd, QSocketNotifier::Read, this);
            connect(pPaceNotifier, SIGNAL(activated(QSocketDescriptor, QSocketNotifier::Type)), this,
                    SLOT(PaceLine()));
        }
    }
    // Whatever waits crosses at the new pace from now on, or at once when the pace is taken off.
    const int64_t iNowNs = NowNs();
    for (PacedWire* pWire : {&wireIn, &wireOut}) {
        pWire->iStartNs = iNowNs;
        pWire->iCount = 0;
    }
    PaceLine();
    if (!IsPaced() && iPaceFd >= 0) {
        // The notifier may be the very sender whose slot runs now.
        pPaceNotifier->setEnabled(false);
        pPaceNotifier->deleteLater();
        pPaceNotifier = nullptr;
        close(iPaceFd);
        iPaceFd = -1;
    }
    return iLineBaud == qMax(0, iBaud);
}

// When the wire will have carried iMoreBytes beyond what it has handed on. Exact on average: the bit
// times are summed, not rounded per byte.
int64_t SimInstrument::CrossedNs(const PacedWire& wire, int64_t iMoreBytes) const {
    return wire.iStartNs + (wire.iCount + iMoreBytes) * kBitsPerByte * kNsPerSecond / iLineBaud;
}

qsizetype SimInstrument::CrossedBytes(const PacedWire& wire, int64_t iNowNs) const {
    const qsizetype iWaiting = wire.baBytes.size();
    if (!IsPaced() || iNowNs >= CrossedNs(wire, iWaiting))
        return iWaiting;
    const int64_t iCrossed =
        (iNowNs - wire.iStartNs) * iLineBaud / (kBitsPerByte * kNsPerSecond) - wire.iCount;
    return static_cast<qsizetype>(qMax<int64_t>(0, iCrossed));
}

// Moves the wire's origin forward by whole multiples of ten seconds, which are exact in bytes, so that a
// line busy for hours cannot overflow the sums.
void SimInstrument::Crossed(PacedWire& wire, qsizetype iBytes) {
    wire.baBytes.remove(0, iBytes);
    wire.iCount += iBytes;
    if (!IsPaced())
        return;
    const int64_t iWholes = wire.iCount / iLineBaud;
    wire.iStartNs += iWholes * kBitsPerByte * kNsPerSecond;
    wire.iCount -= iWholes * iLineBaud;
}

// An idle wire starts carrying now; a busy one carries the new bytes behind the others.
void SimInstrument::OntoWire(PacedWire& wire, const char* pcBytes, qsizetype iCount, int64_t iNowNs) {
    if (wire.baBytes.isEmpty()) {
        wire.iStartNs = iNowNs;
        wire.iCount = 0;
    }
    wire.baBytes.append(pcBytes, iCount);
}

// The tool's bytes are read at once; the instrument takes them when the timer says they have crossed.
void SimInstrument::PaceIn(const char* pcBytes, qsizetype iCount) {
    const int64_t iNowNs = NowNs();
    OntoWire(wireIn, pcBytes, iCount, iNowNs);
    ArmPace(iNowNs);
}

// Never calls back into the instrument, so that it is safe from within the reading of a request.
void SimInstrument::PaceOut(const char* pcBytes, qsizetype iCount) {
    const int64_t iNowNs = NowNs();
    OntoWire(wireOut, pcBytes, iCount, iNowNs);
    MoveOut(iNowNs);
    ArmPace(iNowNs);
}

void SimInstrument::PaceLine() {
    uint64_t uiExpirations = 0;
    if (iPaceFd >= 0 && read(iPaceFd, &uiExpirations, sizeof(uiExpirations)) < 0 && errno != EAGAIN)
        return;
    const int64_t iNowNs = NowNs();
    MoveIn(iNowNs);
    MoveOut(iNowNs);
    ArmPace(iNowNs);
}

// The instrument reads what has crossed. Taken off the wire first: an answer may pace more bytes.
void SimInstrument::MoveIn(int64_t iNowNs) {
    const qsizetype iCrossed = CrossedBytes(wireIn, iNowNs);
    if (iCrossed == 0)
        return;
    const QByteArray baArrived = wireIn.baBytes.left(iCrossed);
    Crossed(wireIn, iCrossed);
    for (const char cByte : baArrived) {
        // A request may have pulled the cable.
        if (iMasterFd < 0)
            return;
        ReceiveByte(static_cast<uint8_t>(cByte));
    }
}

// Whole packets go on, and the rest once the wire has carried everything.
void SimInstrument::MoveOut(int64_t iNowNs) {
    qsizetype iCrossed = CrossedBytes(wireOut, iNowNs);
    if (iCrossed < wireOut.baBytes.size())
        iCrossed -= iCrossed % iOutPacket;
    if (iCrossed == 0 || iMasterFd < 0)
        return;
    ssize_t iWritten = 0;
    do {
        iWritten = write(iMasterFd, wireOut.baBytes.constData(), static_cast<size_t>(iCrossed));
    } while (iWritten < 0 && errno == EINTR);
    if (iWritten < 0 && errno != EAGAIN)
        wireOut.baBytes.clear();
    else if (iWritten > 0)
        Crossed(wireOut, iWritten);
}

// Wakes for the next slice of either wire; with both idle the timer is off.
void SimInstrument::ArmPace(int64_t iNowNs) {
    if (iPaceFd < 0)
        return;
    int64_t iNextNs = 0;
    if (!wireIn.baBytes.isEmpty())
        iNextNs = CrossedNs(wireIn, qMin(wireIn.baBytes.size(), kSliceBytes));
    if (!wireOut.baBytes.isEmpty()) {
        int64_t iOutNs = CrossedNs(wireOut, qMin(wireOut.baBytes.size(), iOutPacket));
        // Bytes that had crossed by iNowNs and still wait found the pseudo-terminal full.
        if (iOutNs <= iNowNs)
            iOutNs = iNowNs + kFullLineRetryNs;
        iNextNs = iNextNs == 0 ? iOutNs : qMin(iNextNs, iOutNs);
    }
    itimerspec next = {};
    next.it_value.tv_sec = static_cast<time_t>(iNextNs / kNsPerSecond);
    next.it_value.tv_nsec = static_cast<long>(iNextNs % kNsPerSecond);
    timerfd_settime(iPaceFd, TFD_TIMER_ABSTIME, &next, nullptr);
}

void SimInstrument::ClearWires() {
    for (PacedWire* pWire : {&wireIn, &wireOut}) {
        pWire->baBytes.clear();
        pWire->iCount = 0;
    }
    ArmPace(NowNs());
}
