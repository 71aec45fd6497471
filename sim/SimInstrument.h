#pragma once

// A simulated instrument behind a pseudo-terminal, for the tests and for trying the tool.

#include "sim/SimLogbook.h"
#include "sim/SimWire.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

class QSocketNotifier;
class QTimer;

// What the instrument tells about itself in VNINFO2.
struct SimIdentity {
    QByteArray baModel = "Tovak_2";
    QByteArray baProduced = "A7";
    uint32_t uiSerial = 512;
    uint32_t uiFwMajor = 1;
    uint32_t uiFwMinor = 4;
    uint32_t uiFwBuild = 7;
    QByteArray baHwVersion = "2.0"; // sent as written
};

// The settings as the instrument stores them, that is already brought into its ranges.
struct SimSettings {
    int iTELevel = 80;           // percent, -10 to 120
    int iVarioFilterTenths = 15; // tenths of a second, 5 to 100
    int iServoTrigger = 50;      // percent, 0 to 100
    int iServoChannel = -1;      // -1 for none, up to 24
    uint32_t uiPairKey = 0;      // up to 999999
    int iTelemetry = 1;          // index into the model's protocol list
};

// A simulated instrument behind a pseudo-terminal. It runs in the caller's event loop: notifiers on the
// master side and single-shot timers, no threads. The tool opens DevicePath() as its serial port.
// Sources: the line and its output queue (SimInstrument.cpp), the sentences it answers
// (SimInstrumentRequests.cpp), the firmware update mode (SimInstrumentUpdate.cpp), the paced line
// (SimInstrumentLinePace.cpp) and other equipment's traffic (SimInstrumentForeignTraffic.cpp).
class SimInstrument : public QObject {
    Q_OBJECT

public:
    enum class PartFault {
        Stall,     // half of the part is sent, then nothing
        StrayByte, // a stray line end goes out before the part
        Unplug,    // the line is closed instead of answering
    };

    explicit SimInstrument(QObject* pParent = nullptr);
    ~SimInstrument() override;

    // The line. A link path set before Open() is kept pointing at the current pseudo-terminal, so that
    // the tool finds the instrument under the same name after Replug().
    void SetLinkPath(const QString& sPath) { sLinkPath = sPath; }
    bool Open();
    void Close();
    void Unplug(); // the cable pulled: the pseudo-terminal goes away and LineClosed() is emitted
    bool Replug() { return Open(); }
    bool IsPlugged() const { return iMasterFd >= 0; }
    QString DevicePath() const { return sLinkPath.isEmpty() ? sSlavePath : sLinkPath; }
    QString SlavePath() const { return sSlavePath; }
    // The terminal's settings as the tool left them, as "115200 8N1, no flow control": a real cable
    // garbles every byte at another speed or framing, while a pseudo-terminal passes them on regardless.
    // Empty while unplugged.
    QString LineSettings() const;
    // The line's pace: above 0, every byte takes ten bit times on the wire (start bit, eight data bits,
    // stop bit) in both directions, as through a cable at this baud rate; 0, the default, passes bytes on
    // at once.
    bool SetLineBaud(int iBaud); // false when the line cannot be paced, which it then is not
    int LineBaud() const { return iLineBaud; }
    // On a paced line, the tool is handed the instrument's bytes in packets of this size, as from a USB
    // serial adapter; what is left when the line falls idle goes at once. 16 unless set.
    void SetLinePacket(int iBytes) { iOutPacket = qMax(1, iBytes); }
    // Bytes of other equipment put on the line as they are, behind whatever is queued.
    void SendTraffic(const QByteArray& baBytes) { Send(baBytes, false); }

    // Identity and settings.
    void SetIdentity(const SimIdentity& identityNew) { identity = identityNew; }
    const SimIdentity& Identity() const { return identity; }
    void SetSettings(const SimSettings& settingsNew) { settings = settingsNew; }
    const SimSettings& Settings() const { return settings; }

    // Logbook. AddFlight generates IGC content of exactly uiSize bytes; a packed time of 0 and a
    // daily number of 0 choose a date and number from the flight's position. Both return the index.
    int AddFlight(uint32_t uiSize, uint32_t uiPackedTime = 0, uint16_t uiDailyNr = 0);
    int AddFlight(const sim::SimFlight& flight);
    void ClearLogbook() { aFlights.clear(); }
    int FlightCount() const { return aFlights.size(); }
    const sim::SimFlight& Flight(int iIndex) const { return aFlights.at(iIndex); }

    // Firmware update. The instrument learns the number of chunks from the header that it fetches
    // (MakeUpdateHeader's layout), or from SetUpdateChunkCount when that is 0 or more.
    static constexpr int kUpdateHeaderSize = 128;
    static constexpr int kUpdateChunkSize = 512;
    // Programming a block, after the header and after each chunk: the loader asks for nothing meanwhile,
    // and bytes that arrive are stray.
    static constexpr int kUpdateProgramMs = 2;
    static QByteArray MakeUpdateHeader(uint32_t uiImageSize);
    void SetUpdateChunkCount(int iChunks) { iChunkCountSet = iChunks; }
    bool IsUpdating() const { return eUpdateStage != UpdateOff; }
    // Header and chunks received so far, in file order; a finished update holds the whole image.
    const QByteArray& UpdateImage() const { return baUpdateImage; }
    int UpdateCrcErrors() const { return iUpdateCrcErrors; }

    // Fault knobs.
    void SetSilent(bool bOn) { bSilent = bOn; }
    void SetReplyDelayMs(int iMs) { iDelayMs = qMax(0, iMs); }
    void SetSplitWrites(int iPieces, int iGapMs = 10);
    void SetNoise(bool bOn) { bNoise = bOn; }
    void SetBadChecksums(bool bOn) { bBadChecksums = bOn; }
    // Other equipment on the same line: GNSS, FLARM and LX sentences, now and then an overlong line,
    // around every reply and on their own between replies. They hold back while flight parts are
    // asked for and while the update loader runs, as the raw transfers cannot be told apart from them.
    void SetForeignTraffic(bool bOn);
    // The next iTimes sentences with exactly this body are received but not acted on.
    void LoseRequest(const QByteArray& baBody, int iTimes = 1);
    // The next iTimes requests whose body starts with baStart (every one when iTimes is negative) are
    // answered iMs late, out of turn, as by an instrument busy with something else: answers to later
    // requests may pass them.
    void SetLateAnswers(const QByteArray& baStart, int iMs, int iTimes = 1);
    // Late answers not on the line yet.
    int LateAnswersDue() const { return iLateDue; }
    // Every request whose body starts with baStart is answered twice.
    void SetDoubleAnswers(const QByteArray& baStart) { baDoubleStart = baStart; }
    // The next iTimes requests for flight part iPart, of any flight, go wrong this way.
    void SetPartFault(PartFault eFault, int iPart, int iTimes = 1);
    // The line is closed when the update would ask for this chunk; -1 turns it off.
    void SetUnplugAtChunk(int iChunk) { iUnplugAtChunk = iChunk; }
    // Every knob above back to a clean line; a lost request still pending is forgotten.
    void ClearFaults();

    // Traffic seen: every sentence with a good checksum, as its body without "$" and checksum.
    const QList<QByteArray>& ReceivedSentences() const { return aReceived; }
    int RequestCount(const QByteArray& baBody) const { return aReceived.count(baBody); }
    int BadSentenceCount() const { return iBadSentences; }
    void ClearLog();

signals:
    void RequestReceived(const QByteArray& baBody);
    void LineClosed();
    void UpdateFinished(bool bComplete);

private slots:
    void ReadLine();
    void WritePending();
    void ResumeReading();
    void UpdateTimerFired();
    void SendForeignBurst();
    void PaceLine();

private:
    enum UpdateStage {
        UpdateOff,     // normal operation, sentences are answered
        UpdateBooting, // VNREQ,199 taken, the update loader is starting
        UpdateHeader,  // the header was asked for
        UpdateChunk,   // a chunk was asked for
        UpdatePause,   // a block is being programmed; whatever arrives now is stray
        UpdateResync,  // a chunk failed its CRC; waiting for the line to fall quiet before asking again
    };

    struct Pending {
        qint64 iDueMs;
        QByteArray baBytes;
    };
    struct Fault {
        int iPart = -1;
        int iTimes = 0;
    };
    struct LostRequest {
        QByteArray baBody;
        int iTimes;
    };
    struct LateAnswers {
        QByteArray baStart;
        int iMs = 0;
        int iTimes = 0;
    };

    // Line and output queue.
    void ShutLine(bool bNotify);
    void ReceiveByte(uint8_t byChar);
    void Send(const QByteArray& baBytes, bool bReply);
    void SendSentence(const char* pcBody);
    void SendLoaderSentence(const char* pcBody);
    QByteArray Noise();
    QByteArray Garbled(const char* pcBody) const;

    // The paced line (SimInstrumentLinePace.cpp). Bytes wait on a wire until their last bit has crossed it.
    struct PacedWire {
        QByteArray baBytes;
        int64_t iStartNs = 0; // when the wire last began to carry bytes after standing idle
        int64_t iCount = 0;   // bytes that have crossed since iStartNs
    };
    bool IsPaced() const { return iLineBaud > 0; }
    int64_t CrossedNs(const PacedWire& wire, int64_t iMoreBytes) const;
    qsizetype CrossedBytes(const PacedWire& wire, int64_t iNowNs) const;
    void Crossed(PacedWire& wire, qsizetype iBytes);
    void OntoWire(PacedWire& wire, const char* pcBytes, qsizetype iCount, int64_t iNowNs);
    void PaceIn(const char* pcBytes, qsizetype iCount);
    void PaceOut(const char* pcBytes, qsizetype iCount);
    void MoveIn(int64_t iNowNs);
    void MoveOut(int64_t iNowNs);
    void ArmPace(int64_t iNowNs);
    void ClearWires();

    // Other equipment's traffic (SimInstrumentForeignTraffic.cpp).
    uint32_t NextForeignRandom();
    QByteArray ForeignTraffic();
    QByteArray OverlongLine();

    // Sentences.
    void HandleSentence(const char* pcBody);
    void AnswerRequest(const sim::SentenceFields& fields);
    bool TakeLostRequest(const QByteArray& baBody);
    int TakeLateAnswer(const QByteArray& baBody);
    bool TakePartFault(PartFault eFault, int64_t iPart);
    bool IsModel(const char* pcPrefix) const;
    void SendIdentity();
    void SendSettings();
    void StoreSettings(const sim::SentenceFields& fields);
    void SendLogbookRow(int64_t iRow);
    void SendFlightPart(int64_t iFlight, int64_t iPart);

    // Firmware update.
    void EnterUpdate();
    void EndUpdate(bool bComplete, bool bNotify = true);
    void AskForPiece(UpdateStage eStage, const char* pcBody);
    void RequestHeader();
    void RequestChunk();
    void UpdateByte(uint8_t byChar);
    void HeaderComplete();
    void ChunkComplete();
    void WithdrawUnread();

    QString sLinkPath;
    QString sSlavePath;
    int iMasterFd = -1;
    int iSlaveFd = -1; // kept open so that the master never sees a hang-up while the tool's port is closed
    QSocketNotifier* pReadNotifier = nullptr;
    QSocketNotifier* pWriteNotifier = nullptr;
    QTimer* pOutTimer;
    QTimer* pReadRetryTimer;
    QTimer* pUpdateTimer;
    QTimer* pForeignTimer;
    QElapsedTimer clock;
    QList<Pending> aPending;
    qint64 iLastDueMs = 0;
    int iLineBaud = 0;
    qsizetype iOutPacket = 16;
    int iPaceFd = -1; // a timer of the wire's resolution: Qt's count whole milliseconds, a dozen bytes
    QSocketNotifier* pPaceNotifier = nullptr;
    PacedWire wireIn;  // from the tool, not yet read by the instrument
    PacedWire wireOut; // to the tool, not yet arrived

    sim::SentenceReader reader;
    SimIdentity identity;
    SimSettings settings;
    QList<sim::SimFlight> aFlights;

    bool bSilent = false;
    int iDelayMs = 0;
    int iSplitPieces = 1;
    int iSplitGapMs = 10;
    bool bNoise = false;
    bool bBadChecksums = false;
    uint32_t uiNoiseSeed = 12345;
    bool bForeign = false;
    uint32_t uiForeignSeed = 4242;
    qint64 iLastPartReqMs = -1; // when a flight part was last asked for; -1 never
    QList<LostRequest> aLost;
    LateAnswers lateAnswers;
    int iAnswerLateMs = 0; // set while a request to be answered late is handled
    int iLateDue = 0;
    QByteArray baDoubleStart;
    Fault aPartFaults[3];
    int iUnplugAtChunk = -1;

    QList<QByteArray> aReceived;
    int iBadSentences = 0;

    UpdateStage eUpdateStage = UpdateOff;
    QByteArray baUpdateIn;
    QByteArray baUpdateImage;
    int iChunkCountSet = -1;
    int iUpdateChunks = 0;
    int iUpdateChunk = 0;
    int iUpdateTries = 0;
    int iUpdateCrcErrors = 0;
};
