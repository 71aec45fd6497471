// The simulated instrument's line: the pseudo-terminal, the output queue and the pulled cable.
#include "sim/SimInstrument.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace {

// After a failed read the line is looked at again this much later, so that a hung-up pseudo-terminal
// cannot keep the event loop busy.
constexpr int kReadRetryMs = 100;

void SetFdFlags(int iFd, bool bNonBlocking) {
    if (bNonBlocking)
        fcntl(iFd, F_SETFL, fcntl(iFd, F_GETFL) | O_NONBLOCK);
    fcntl(iFd, F_SETFD, fcntl(iFd, F_GETFD) | FD_CLOEXEC);
}

QTimer* MakeSingleShot(QObject* pOwner) {
    QTimer* pTimer = new QTimer(pOwner);
    pTimer->setSingleShot(true);
    return pTimer;
}

} // namespace

SimInstrument::SimInstrument(QObject* pParent) : QObject(pParent) {
    pOutTimer = MakeSingleShot(this);
    pReadRetryTimer = MakeSingleShot(this);
    pUpdateTimer = MakeSingleShot(this);
    pForeignTimer = MakeSingleShot(this);
    connect(pOutTimer, SIGNAL(timeout()), this, SLOT(WritePending()));
    connect(pReadRetryTimer, SIGNAL(timeout()), this, SLOT(ResumeReading()));
    connect(pUpdateTimer, SIGNAL(timeout()), this, SLOT(UpdateTimerFired()));
    connect(pForeignTimer, SIGNAL(timeout()), this, SLOT(SendForeignBurst()));
    clock.start();
}

SimInstrument::~SimInstrument() {
    ShutLine(false);
    SetLineBaud(0);
}

QString SimInstrument::LineSettings() const {
    termios tio;
    if (iSlaveFd < 0 || tcgetattr(iSlaveFd, &tio) != 0)
        return QString();
    const std::pair<speed_t, int> aSpeeds[] = {{B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                               {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    int iBaud = -1;
    for (const auto& [uiCode, iRate] : aSpeeds) {
        if (cfgetospeed(&tio) == uiCode && cfgetispeed(&tio) == uiCode)
            iBaud = iRate;
    }
    const int iDataBits = 5 + static_cast<int>((tio.c_cflag & CSIZE) / CS6); // CS5 to CS8 count up
    const char cParity = !(tio.c_cflag & PARENB) ? 'N' : (tio.c_cflag & PARODD) ? 'O' : 'E';
    const char* pszFlow = (tio.c_cflag & CRTSCTS)          ? "hardware"
                          : (tio.c_iflag & (IXON | IXOFF)) ? "software"
                                                           : "no";
    return QString::asprintf("%d %d%c%d, %s flow control", iBaud, iDataBits, cParity,
                             (tio.c_cflag & CSTOPB) ? 2 : 1, pszFlow);
}

bool SimInstrument::Open() {
    if (iMasterFd >= 0)
        return true;
    int iMaster = -1;
    int iSlave = -1;
    char acName[256] = {};
    if (openpty(&iMaster, &iSlave, acName, nullptr, nullptr) != 0)
        return false;
    termios tio;
    if (tcgetattr(iSlave, &tio) == 0) {
        // Raw, or CR would arrive as LF and flow-control bytes inside flight data would vanish.
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        tcsetattr(iSlave, TCSANOW, &tio);
    }
    SetFdFlags(iMaster, true);
    SetFdFlags(iSlave, false);
    iMasterFd = iMaster;
    iSlaveFd = iSlave;
    sSlavePath = QString::fromLocal8Bit(acName);
    if (!sLinkPath.isEmpty()) {
        // Only a link of ours is replaced; a file of that name is never clobbered.
        if (QFileInfo(sLinkPath).isSymLink())
            QFile::remove(sLinkPath);
        if (!QFile::link(sSlavePath, sLinkPath)) {
            ShutLine(false);
            return false;
        }
    }
    pReadNotifier = new QSocketNotifier(iMasterFd, QSocketNotifier::Read, this);
    pWriteNotifier = new QSocketNotifier(iMasterFd, QSocketNotifier::Write, this);
    pWriteNotifier->setEnabled(false);
    connect(pReadNotifier, SIGNAL(activated(QSocketDescriptor, QSocketNotifier::Type)), this,
            SLOT(ReadLine()));
    connect(pWriteNotifier, SIGNAL(activated(QSocketDescriptor, QSocketNotifier::Type)), this,
            SLOT(WritePending()));
    reader.Reset();
    return true;
}

void SimInstrument::Close() {
    ShutLine(false);
}

void SimInstrument::Unplug() {
    if (iMasterFd < 0)
        return;
    ShutLine(true);
    emit LineClosed();
}

void SimInstrument::ShutLine(bool bNotify) {
    if (eUpdateStage != UpdateOff)
        EndUpdate(false, bNotify);
    pOutTimer->stop();
    pReadRetryTimer->stop();
    aPending.clear();
    ClearWires();
    // The notifiers may be the very senders whose slot runs now.
    for (QSocketNotifier* pNotifier : {pReadNotifier, pWriteNotifier}) {
        if (pNotifier != nullptr) {
            pNotifier->setEnabled(false);
            pNotifier->deleteLater();
        }
    }
    pReadNotifier = nullptr;
    pWriteNotifier = nullptr;
    if (iMasterFd >= 0)
        close(iMasterFd);
    if (iSlaveFd >= 0)
        close(iSlaveFd);
    iMasterFd = -1;
    iSlaveFd = -1;
    if (!sLinkPath.isEmpty() && QFileInfo(sLinkPath).isSymLink())
        QFile::remove(sLinkPath);
}

void SimInstrument::SetSplitWrites(int iPieces, int iGapMs) {
    iSplitPieces = qMax(1, iPieces);
    iSplitGapMs = qMax(0, iGapMs);
}

void SimInstrument::LoseRequest(const QByteArray& baBody, int iTimes) {
    aLost.append({baBody, iTimes});
}

void SimInstrument::SetLateAnswers(const QByteArray& baStart, int iMs, int iTimes) {
    lateAnswers = {baStart, qMax(0, iMs), iTimes};
}

void SimInstrument::SetPartFault(PartFault eFault, int iPart, int iTimes) {
    Fault& fault = aPartFaults[static_cast<int>(eFault)];
    fault.iPart = iPart;
    fault.iTimes = iTimes;
}

void SimInstrument::ClearFaults() {
    bSilent = false;
    iDelayMs = 0;
    SetSplitWrites(1);
    bNoise = false;
    bBadChecksums = false;
    SetForeignTraffic(false);
    aLost.clear();
    lateAnswers = LateAnswers();
    baDoubleStart.clear();
    for (Fault& fault : aPartFaults)
        fault = Fault();
    iUnplugAtChunk = -1;
}

void SimInstrument::ClearLog() {
    aReceived.clear();
    iBadSentences = 0;
}

void SimInstrument::ReadLine() {
    if (iMasterFd < 0)
        return;
    uint8_t abyBuf[4096];
    const ssize_t iRead = read(iMasterFd, abyBuf, sizeof(abyBuf));
    if (iRead < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (iRead <= 0) {
        // No slave side open (EIO) or end of file: the notifier would fire without pause.
        pReadNotifier->setEnabled(false);
        pReadRetryTimer->start(kReadRetryMs);
        return;
    }
    if (IsPaced()) {
        PaceIn(reinterpret_cast<const char*>(abyBuf), iRead);
        return;
    }
    for (ssize_t i = 0; i < iRead && iMasterFd >= 0; ++i)
        ReceiveByte(abyBuf[i]);
}

void SimInstrument::ResumeReading() {
    if (pReadNotifier != nullptr)
        pReadNotifier->setEnabled(true);
}

void SimInstrument::ReceiveByte(uint8_t byChar) {
    if (eUpdateStage != UpdateOff) {
        UpdateByte(byChar);
        return;
    }
    switch (reader.Feed(byChar)) {
    case sim::SentenceReader::Sentence:
        HandleSentence(reader.Body());
        break;
    case sim::SentenceReader::BadSentence:
        ++iBadSentences;
        break;
    case sim::SentenceReader::None:
        break;
    }
}

// Queues bytes for the line. Replies honour the delay and split knobs; pieces leave in order. A late
// answer is queued only when it is due, behind whatever is on its way then.
void SimInstrument::Send(const QByteArray& baBytes, bool bReply) {
    if (bSilent || iMasterFd < 0 || baBytes.isEmpty())
        return;
    if (bReply && iAnswerLateMs > 0) {
        ++iLateDue;
        QTimer::singleShot(iAnswerLateMs, this, [this, baBytes] {
            --iLateDue;
            if (eUpdateStage == UpdateOff)
                Send(baBytes, true);
        });
        return;
    }
    qint64 iDue = qMax(clock.elapsed() + (bReply ? iDelayMs : 0), iLastDueMs);
    const int iPieces = bReply ? qMin(iSplitPieces, static_cast<int>(baBytes.size())) : 1;
    int iStart = 0;
    for (int k = 1; k <= iPieces; ++k) {
        const int iEnd = static_cast<int>(baBytes.size() * k / iPieces);
        aPending.append({iDue, baBytes.mid(iStart, iEnd - iStart)});
        iLastDueMs = iDue;
        iDue += iSplitGapMs;
        iStart = iEnd;
    }
    WritePending();
}

void SimInstrument::WritePending() {
    if (iMasterFd < 0)
        return;
    while (!aPending.isEmpty() && aPending.first().iDueMs <= clock.elapsed()) {
        QByteArray& baBytes = aPending.first().baBytes;
        if (IsPaced()) {
            PaceOut(baBytes.constData(), baBytes.size());
            aPending.removeFirst();
            continue;
        }
        const ssize_t iWritten = write(iMasterFd, baBytes.constData(), baBytes.size());
        if (iWritten < 0 && errno == EINTR)
            continue;
        if (iWritten < 0 && errno == EAGAIN) {
            // The tool is not reading and the line's buffer is full.
            pWriteNotifier->setEnabled(true);
            return;
        }
        if (iWritten < 0) {
            aPending.clear();
            break;
        }
        baBytes.remove(0, iWritten);
        if (baBytes.isEmpty())
            aPending.removeFirst();
    }
    pWriteNotifier->setEnabled(false);
    if (!aPending.isEmpty())
        pOutTimer->start(static_cast<int>(qMax<qint64>(0, aPending.first().iDueMs - clock.elapsed())));
}

void SimInstrument::SendSentence(const char* pcBody) {
    char acFrame[256];
    if (sim::FrameSentence(pcBody, acFrame, sizeof(acFrame)) == 0)
        return;
    QByteArray baOut;
    if (bForeign)
        baOut += ForeignTraffic();
    if (bNoise)
        baOut += Noise();
    baOut += acFrame;
    // A corrupted copy after the good sentence: a tool that took it would end up with its numbers.
    if (bBadChecksums)
        baOut += Garbled(pcBody);
    if (bForeign)
        baOut += ForeignTraffic();
    Send(baOut, true);
}

// The update loader talks plainly: its timing is its own, so the reply knobs do not touch it.
void SimInstrument::SendLoaderSentence(const char* pcBody) {
    char acFrame[64];
    if (sim::FrameSentence(pcBody, acFrame, sizeof(acFrame)) > 0)
        Send(QByteArray(acFrame), false);
}

// One to sixteen bytes of any value, then CR LF, which brings a framer caught by a stray "*" back to
// waiting for "$" before the real sentence starts.
QByteArray SimInstrument::Noise() {
    uiNoiseSeed = uiNoiseSeed * 1103515245u + 12345u;
    const int iLen = 1 + static_cast<int>(uiNoiseSeed >> 16) % 16;
    QByteArray baNoise;
    for (int i = 0; i < iLen; ++i) {
        uiNoiseSeed = uiNoiseSeed * 1103515245u + 12345u;
        baNoise += static_cast<char>(uiNoiseSeed >> 16);
    }
    return baNoise + "\r\n";
}

// The sentence with every digit after the identifier changed, under a checksum that does not fit it.
QByteArray SimInstrument::Garbled(const char* pcBody) const {
    char acBody[sim::kMaxBody + 1];
    snprintf(acBody, sizeof(acBody), "%s", pcBody);
    char* pcField = strchr(acBody, ',');
    for (char* pc = pcField; pc != nullptr && *pc != '\0'; ++pc) {
        if (*pc >= '0' && *pc <= '9')
            *pc = static_cast<char>('0' + (*pc - '0' + 1) % 10);
    }
    const uint8_t byWrong = sim::XorChecksum(acBody, strlen(acBody)) ^ 0x5A;
    char acFrame[256];
    snprintf(acFrame, sizeof(acFrame), "$%s*%02X\r\n", acBody, byWrong);
    return QByteArray(acFrame);
}
