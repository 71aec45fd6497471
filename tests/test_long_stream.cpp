// A million mixed sentences of every family, with noise and damaged sentences between them, fed byte by
// byte through the framer as a serial line would deliver them. Each sentence must come back with the code
// that its kind and field count call for, and nothing may crash or stray outside its record.
#include "StderrCapture.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstring>

namespace {

// clang-format off
enum Kind {
    Rmc, Gga, Gsa, Gsv, Gns,
    Pflau, Pflaa, Pflac, Pflae, Pflal, Pflaq,
    Lxwp0, Lxgrb, C302, Pcaid, Pgrmz, Pflx0, Pflx2, Rpyl, Lxdt,
    Vnreq, Vninfo2, Vnset2, Vnlogbook,
    // Sentences no row takes, then damaged ones and line noise: none may give a code.
    Unknown, BadChecksum, Noise, Truncated, Oversize, TooManyFields,
    KindCount
};

const char* const kKindNames[KindCount] = {
    "RMC", "GGA", "GSA", "GSV", "GNS",
    "PFLAU", "PFLAA", "PFLAC", "PFLAE", "PFLAL", "PFLAQ",
    "LXWP0", "LXGRB", "C302", "PCAID", "PGRMZ", "PFLX0", "PFLX2", "RPYL", "LXDT",
    "VNREQ", "VNINFO2", "VNSET2", "VNLOGBOOK",
    "unknown", "bad checksum", "noise", "truncated", "oversize", "too many fields",
};
// clang-format on

const int kSentences = 1000000;
// Start character and body stay below 120 characters.
const int kMaxBody = 118;

// Field texts: no "$", "!", "*" or ",", so they never end or restart a sentence; lower case, blanks and
// bytes with the top bit set are there as receivers send them.
const char kFieldAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefxyz .-+:_/\xC3\xA9";

// One piece of the stream: a sentence, a damaged sentence or noise, with the code it must give.
struct Item {
    Kind kind;
    uint32_t uiExpected;
    // Satellite groups of a Galileo GSV message that the parser takes.
    int iGalileoGroups;
    int iLen;
    char acBytes[256];

    void Append(const char* pc, int iCount) {
        memcpy(acBytes + iLen, pc, static_cast<size_t>(iCount));
        iLen += iCount;
    }

    char* ChecksumMarker() { return static_cast<char*>(memchr(acBytes, '*', static_cast<size_t>(iLen))); }
};

// Builds one sentence with a given number of fields, cutting field texts so that it stays in the limit.
class SentenceWriter {
public:
    void Begin(char cStart, const char* pszId, int iFields) {
        iLen = snprintf(acText, sizeof acText, "%c%s", cStart, pszId);
        iFieldsLeft = iFields - 1;
    }

    void Field(const char* pszText) {
        const int iCap = kMaxBody + 1 - iLen - iFieldsLeft;
        int iTextLen = static_cast<int>(strlen(pszText));
        if (iTextLen > iCap)
            iTextLen = iCap;
        acText[iLen++] = ',';
        memcpy(acText + iLen, pszText, static_cast<size_t>(iTextLen));
        iLen += iTextLen;
        acText[iLen] = '\0';
        --iFieldsLeft;
    }

    int FieldsLeft() const { return iFieldsLeft; }

    // Completes the sentence with "*HH\r\n" into the item.
    void Finish(Item& item) {
        AppendChecksum(acText);
        item.iLen = 0;
        item.Append(acText, static_cast<int>(strlen(acText)));
    }

private:
    char acText[200];
    int iLen = 0;
    int iFieldsLeft = 0;
};

QByteArray Tally(const char* pszKind, int iSent, int iTaken, int iWrong) {
    char acLine[80];
    snprintf(acLine, sizeof acLine, "%s: %d sent, %d taken, %d wrong\n", pszKind, iSent, iTaken, iWrong);
    return acLine;
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

class StreamGenerator {
public:
    explicit StreamGenerator(uint64_t uiSeed) : uiState(uiSeed) {}

    // The next piece of the stream; a truncated sentence is always followed by one that starts with "$",
    // which restarts the framer.
    void Next(Item& item) {
        item.iLen = 0;
        item.iGalileoGroups = 0;
        item.uiExpected = 0;
        const int iPick = Pick(KindCount + 4);
        // GSV cycles are the longest-lived state in the parser: give them more room.
        item.kind = iPick >= KindCount ? Gsv : static_cast<Kind>(iPick);
        if (bNeedDollar && (item.kind == Noise || item.kind == Truncated))
            item.kind = Lxwp0;
        switch (item.kind) {
        case Noise:
            for (int i = 1 + Pick(40); i > 0; --i) {
                const char c = static_cast<char>(Pick(256));
                item.acBytes[item.iLen++] = c == '$' || c == '!' ? '\n' : c;
            }
            break;
        case Truncated:
            Good(item, static_cast<Kind>(Pick(Unknown + 1)), '$');
            item.iLen = 1 + Pick(static_cast<int>(item.ChecksumMarker() - item.acBytes));
            item.uiExpected = 0;
            item.iGalileoGroups = 0;
            break;
        case BadChecksum: {
            Good(item, static_cast<Kind>(Pick(Unknown + 1)), '$');
            char* pcDigit = item.ChecksumMarker() + 2;
            *pcDigit = "0123456789ABCDEF"[(HexValue(*pcDigit) + 1 + Pick(15)) % 16];
            item.uiExpected = 0;
            item.iGalileoGroups = 0;
            break;
        }
        case Oversize:
            item.Append("$GPGGA", 6);
            while (item.iLen < BasicNMEA::kMaxLength + 20)
                item.acBytes[item.iLen++] = RandomChar();
            item.Append("*00\r\n", 5);
            break;
        case TooManyFields:
            item.Append("$LXWP0", 6);
            for (int i = 24 + Pick(10); i > 0; --i)
                item.Append(",1", 2);
            item.Append("*00\r\n", 5);
            break;
        default:
            Good(item, item.kind, bNeedDollar ? '$' : 0);
            break;
        }
        bNeedDollar = item.kind == Truncated;
    }

private:
    // SplitMix64: the same stream on every platform and library version.
    uint64_t Next64() {
        uint64_t z = (uiState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    int Pick(int iBound) {
        return static_cast<int>(((Next64() >> 32) * static_cast<uint64_t>(iBound)) >> 32);
    }

    char RandomChar() { return kFieldAlphabet[Pick(sizeof kFieldAlphabet - 1)]; }

    // Anything a field may hold: empty, numbers in every shape, words, times, hexadecimal.
    const char* RandomField() {
        switch (Pick(8)) {
        case 0:
            acField[0] = '\0';
            break;
        case 1:
            snprintf(acField, sizeof acField, "%d", Pick(500) - 50);
            break;
        case 2:
            snprintf(acField, sizeof acField, "%lld", static_cast<long long>(Next64() >> Pick(64)));
            break;
        case 3:
            snprintf(acField, sizeof acField, "%d.%03d", Pick(100000) - 20000, Pick(1000));
            break;
        case 4:
            snprintf(acField, sizeof acField, "%d:%d:%d", Pick(30), Pick(70), Pick(70));
            break;
        case 5:
            snprintf(acField, sizeof acField, "%X", static_cast<unsigned>(Next64()));
            break;
        default: {
            const int iLen = Pick(15);
            for (int i = 0; i < iLen; ++i)
                acField[i] = RandomChar();
            acField[iLen] = '\0';
            break;
        }
        }
        return acField;
    }

    const char* Decimal(int i) {
        snprintf(acField, sizeof acField, "%d", i);
        return acField;
    }

    // A field count: mostly the one the equipment sends, sometimes anything the framer lets through.
    int Count(int iTypical) { return Pick(4) != 0 ? iTypical : 1 + Pick(BasicNMEA::kMaxFields); }

    static bool Within(int i, int iLow, int iHigh) { return i >= iLow && i <= iHigh; }

    void Good(Item& item, Kind kind, char cForcedStart);
    void GoodGsv(Item& item, char cStart);
    void FillRemaining();

    uint64_t uiState;
    SentenceWriter writer;
    char acField[32];
    bool bNeedDollar = false;

    // Per talker GP, GL, GA, GN: the message that comes next in its cycle.
    struct GsvRun {
        int iTotal = 0;
        int iNext = 1;
    };
    GsvRun aRuns[4];
};

void StreamGenerator::FillRemaining() {
    while (writer.FieldsLeft() > 0)
        writer.Field(RandomField());
}

void StreamGenerator::Good(Item& item, Kind kind, char cForcedStart) {
    char cStart = cForcedStart != 0 ? cForcedStart : (Pick(10) == 0 ? '!' : '$');
    if (kind == Gsv) {
        GoodGsv(item, cStart);
        return;
    }
    static const char* const kUnknownIds[] = {"GPVTG", "GPGLL", "GBGSV", "VNINFO",
                                              "GPRM",  "LXWP1", "PLXVF", ""};
    static const char* const kLxdtSubs[] = {"INFO",    "MC_BAL", "TP",     "ZONE",     "GLIDER", "PILOT",
                                            "TSK_PAR", "SENS",   "SC_VAR", "NAVIGATE", "XYZ"};
    static const char* const kPflacKeys[] = {"HWVER", "SWVER", "SER",     "OBSTDB", "OBSTEXP",
                                             "PRIV",  "FREQ",  "RADIOID", "NOISE"};
    static const char* const kPflx0Names[] = {"LXWP0", "LXWP1", "LXWP2", "LXWP3", "GPRMB", "LXWP1X"};
    int iFields = 0;
    uint32_t uiCode = 0;
    switch (kind) {
    case Rmc:
        iFields = Count(12 + Pick(2));
        writer.Begin(cStart, Pick(2) ? "GPRMC" : "GNRMC", iFields);
        uiCode = Within(iFields, 12, 13) ? 1 : 0;
        break;
    case Gga:
        iFields = Count(15);
        writer.Begin(cStart, Pick(2) ? "GPGGA" : "GNGGA", iFields);
        uiCode = Within(iFields, 15, 16) ? 2 : 0;
        break;
    case Gsa:
        iFields = Count(18);
        writer.Begin(cStart, Pick(2) ? "GPGSA" : "GNGSA", iFields);
        uiCode = iFields == 18 ? 3 : 0;
        break;
    case Gns: {
        static const char* const kIds[] = {"GNGNS", "GPGNS", "GLGNS", "GBGNS"};
        iFields = Count(13);
        writer.Begin(cStart, kIds[Pick(4)], iFields);
        uiCode = iFields == 13 ? 5 : 0;
        break;
    }
    case Pflau:
        iFields = Count(11);
        writer.Begin(cStart, "PFLAU", iFields);
        uiCode = 6;
        break;
    case Pflaa:
        iFields = Count(12);
        writer.Begin(cStart, "PFLAA", iFields);
        uiCode = iFields == 12 ? 7 : 0;
        break;
    case Pflac:
        iFields = Count(4 + Pick(4));
        writer.Begin(cStart, "PFLAC", iFields);
        if (writer.FieldsLeft() > 0)
            writer.Field(Pick(2) ? "A" : "S");
        if (writer.FieldsLeft() > 0)
            writer.Field(kPflacKeys[Pick(9)]);
        uiCode = 8;
        break;
    case Pflae:
        iFields = Count(5);
        writer.Begin(cStart, "PFLAE", iFields);
        uiCode = 9;
        break;
    case Pflal:
        iFields = Count(2);
        writer.Begin(cStart, "PFLAL", iFields);
        uiCode = 10;
        break;
    case Pflaq:
        iFields = Count(3 + Pick(2));
        writer.Begin(cStart, "PFLAQ", iFields);
        uiCode = 11;
        break;
    case Lxwp0:
        iFields = Count(13);
        writer.Begin(cStart, "LXWP0", iFields);
        uiCode = 14;
        break;
    case Lxgrb:
        iFields = Count(3);
        writer.Begin(cStart, "LXGRB", iFields);
        while (writer.FieldsLeft() > 0)
            writer.Field(Pick(2) ? "1" : "0");
        uiCode = 18;
        break;
    case C302:
        iFields = Count(14 + Pick(3));
        writer.Begin(cForcedStart != 0 ? cForcedStart : '!', Pick(4) ? "w" : "wXYZ", iFields);
        uiCode = iFields >= 13 ? 15 : 0;
        break;
    case Pcaid:
        iFields = Count(8);
        writer.Begin(cStart, "PCAID", iFields);
        uiCode = iFields >= 4 ? 16 : 0;
        break;
    case Pgrmz:
        iFields = Count(4);
        writer.Begin(cStart, Pick(2) ? "PGRMZ" : "PNRMZ", iFields);
        uiCode = iFields >= 4 ? 17 : 0;
        break;
    case Pflx0:
        iFields = Count(9);
        writer.Begin(cStart, "PFLX0", iFields);
        while (writer.FieldsLeft() > 0)
            writer.Field(Pick(2) ? kPflx0Names[Pick(6)] : Decimal(Pick(300)));
        uiCode = 19;
        break;
    case Pflx2:
        iFields = Count(8 + Pick(6));
        writer.Begin(cStart, "PFLX2", iFields);
        uiCode = 20;
        break;
    case Rpyl:
        iFields = Count(8);
        writer.Begin(cStart, "RPYL", iFields);
        uiCode = 21;
        break;
    case Lxdt:
        iFields = Count(4 + Pick(10));
        writer.Begin(cStart, Pick(2) ? "LXDT" : "VNDT", iFields);
        if (writer.FieldsLeft() > 0)
            writer.Field(Pick(8) == 0 ? "ANSWER" : (Pick(2) ? "GET" : "SET"));
        if (writer.FieldsLeft() > 0)
            writer.Field(kLxdtSubs[Pick(11)]);
        uiCode = 22;
        break;
    case Vnreq:
        iFields = Count(2 + Pick(3));
        writer.Begin(cStart, "VNREQ", iFields);
        uiCode = 23;
        break;
    case Vninfo2:
        iFields = Count(8);
        writer.Begin(cStart, "VNINFO2", iFields);
        uiCode = 24;
        break;
    case Vnset2:
        iFields = Count(7);
        writer.Begin(cStart, "VNSET2", iFields);
        uiCode = 25;
        break;
    case Vnlogbook:
        iFields = Count(7);
        writer.Begin(cStart, "VNLOGBOOK", iFields);
        uiCode = 26;
        break;
    default:
        iFields = 1 + Pick(BasicNMEA::kMaxFields);
        writer.Begin(cStart, kUnknownIds[Pick(8)], iFields);
        uiCode = 0;
        break;
    }
    FillRemaining();
    item.uiExpected = uiCode;
    writer.Finish(item);
}

// GSV cycles per talker, with lost first messages: Galileo never sends message 1 at all, so its fill
// index would run far past any table (and past 16 bits) if it were not bounded.
void StreamGenerator::GoodGsv(Item& item, char cStart) {
    static const char* const kIds[] = {"GPGSV", "GLGSV", "GAGSV", "GNGSV"};
    const int iTalker = Pick(4);
    GsvRun& run = aRuns[iTalker];
    if (run.iNext > run.iTotal) {
        run.iTotal = 1 + Pick(5);
        run.iNext = 1;
        if (iTalker == 2 || (run.iTotal > 1 && Pick(4) == 0))
            run.iNext = 2;
        if (iTalker == 2 && run.iTotal == 1)
            run.iTotal = 2;
    }
    int iMsg = run.iNext++;
    if (Pick(20) == 0)
        iMsg = Pick(2) ? 0 : run.iTotal + 1 + Pick(3);
    const int iGroups = iMsg < run.iTotal ? 4 : Pick(6);
    // A trailing signal ID, as NMEA 4.10 receivers send it, makes the count invalid.
    const bool bSignalId = iGroups < 5 && Pick(10) == 0;
    const int iFields = 4 + 4 * iGroups + (bSignalId ? 1 : 0);
    writer.Begin(cStart, kIds[iTalker], iFields);
    writer.Field(Decimal(run.iTotal));
    writer.Field(Decimal(iMsg));
    writer.Field(Decimal(Pick(40)));
    for (int i = 0; i < iGroups * 4; ++i)
        writer.Field(Pick(8) ? Decimal(Pick(400)) : "");
    if (bSignalId)
        writer.Field("1");
    const bool bTaken = !bSignalId && iTalker != 3 && iMsg >= 1 && iMsg <= run.iTotal;
    item.iGalileoGroups = bTaken && iTalker == 2 ? iGroups : 0;
    item.uiExpected = bTaken ? 4 : 0;
    writer.Finish(item);
}

} // namespace

class TestLongStream : public QObject {
    Q_OBJECT

private slots:
    void MillionMixedSentences();
};

void TestLongStream::MillionMixedSentences() {
    BasicNMEA framer;
    StreamGenerator generator(20240611u);
    int aiItems[KindCount] = {};
    int aiExpectedTaken[KindCount] = {};
    int aiTaken[KindCount] = {};
    int aiWrong[KindCount] = {};
    QByteArrayList aExamples;
    int iGalileoGroups = 0;
    Item item;

    StderrCapture capture;
    for (int iSentence = 0; iSentence < kSentences; ++iSentence) {
        generator.Next(item);
        uint32_t uiCode = 0;
        int iCodes = 0;
        for (int i = 0; i < item.iLen; ++i) {
            framer.ProcessByte(static_cast<uint8_t>(item.acBytes[i]));
            if (framer.uiLastCode != 0) {
                uiCode = framer.uiLastCode;
                ++iCodes;
            }
        }
        ++aiItems[item.kind];
        aiExpectedTaken[item.kind] += item.uiExpected != 0;
        aiTaken[item.kind] += iCodes;
        iGalileoGroups += item.iGalileoGroups;
        if (uiCode != item.uiExpected || iCodes > 1) {
            ++aiWrong[item.kind];
            if (aExamples.size() < 5)
                aExamples += QByteArray(item.acBytes, item.iLen).toPercentEncoding(" ,.:-+_*") + " gave " +
                             QByteArray::number(uiCode) + ", expected " + QByteArray::number(item.uiExpected);
        }
    }
    const QByteArray baStderr = capture.Text();

    QByteArray baActual;
    QByteArray baExpected;
    for (int k = 0; k < KindCount; ++k) {
        baActual += Tally(kKindNames[k], aiItems[k], aiTaken[k], aiWrong[k]);
        baExpected += Tally(kKindNames[k], aiItems[k], aiExpectedTaken[k], 0);
    }
    QVERIFY2(aExamples.isEmpty(), aExamples.join('\n').constData());
    QCOMPARE(baActual, baExpected);

    // Every kind really occurred, and every kind of sentence was taken at least once.
    for (int k = 0; k < Unknown; ++k)
        QVERIFY2(aiExpectedTaken[k] > 0, kKindNames[k]);
    // Enough Galileo satellites without a message 1 to carry an unbounded 16-bit fill index past its range.
    QVERIFY(iGalileoGroups > 32767);

    // The framer reported exactly the damaged sentences, each once.
    QCOMPARE(int(baStderr.count("NMEA CRC error ")), aiItems[BadChecksum]);
    QCOMPARE(int(baStderr.count("NMEA size error.\n")), aiItems[Oversize]);
    QCOMPARE(int(baStderr.count("NMEA field count error\n")), aiItems[TooManyFields]);
}

QTEST_GUILESS_MAIN(TestLongStream)
#include "test_long_stream.moc"
