// The protocol fuzz target's harness: bytes through the framer and parser, every record read back.
#include "fuzz/ProtocolHarness.h"

#include "framing/BasicNMEA.h"
#include "sim/SimWire.h"
#include "testsupport/ProtocolFacts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

namespace {

using namespace common;

FILE* pFailureStream = nullptr;

bool ValidCode(SentenceCode uiCode) {
    for (int i = 0; i < facts::kDispatchCount; ++i)
        if (facts::kaDispatch[i].uiCode == uiCode)
            return true;
    return uiCode == CodeNone;
}

[[noreturn]] void Fail(const char* pszFormat, ...) {
    char acFormat[256];
    snprintf(acFormat, sizeof acFormat, "protocol harness: %s\n", pszFormat);
    FILE* pOut = pFailureStream != nullptr ? pFailureStream : stderr;
    va_list args;
    va_start(args, pszFormat);
    vfprintf(pOut, acFormat, args);
    va_end(args);
    fflush(pOut);
    abort();
}

// A byte range of the parser object.
struct Region {
    size_t uiBegin;
    size_t uiEnd;
};

template <typename T> Region RegionOf(const common::ParserNMEA& parser, const T& member) {
    const size_t uiBegin =
        static_cast<size_t>(reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&parser));
    return {uiBegin, uiBegin + sizeof(T)};
}

// The records that a sentence of the given code may write; 0 allows none.
int OwnedRegions(const ParserNMEA& p, SentenceCode uiCode, Region* aRegions) {
    switch (uiCode) {
    case CodeRmc:
        return aRegions[0] = RegionOf(p, p.rmc), 1;
    case CodeGga:
        return aRegions[0] = RegionOf(p, p.gga), 1;
    case CodeGsa:
        return aRegions[0] = RegionOf(p, p.gsa), 1;
    case CodeGsv:
        aRegions[0] = RegionOf(p, p.gsvGps);
        aRegions[1] = RegionOf(p, p.gsvGalileo);
        aRegions[2] = RegionOf(p, p.gsvGlonass);
        return 3;
    case CodeGns:
        return aRegions[0] = RegionOf(p, p.gns), 1;
    case CodePflau:
        return aRegions[0] = RegionOf(p, p.flarmStatus), 1;
    case CodePflaa:
        return aRegions[0] = RegionOf(p, p.flarmTarget), 1;
    case CodePflac:
        return aRegions[0] = RegionOf(p, p.flarmConfig), 1;
    case CodePflae:
        return aRegions[0] = RegionOf(p, p.flarmError), 1;
    case CodePflal:
        return aRegions[0] = RegionOf(p, p.szPflalText), 1;
    case CodePflaq:
        return aRegions[0] = RegionOf(p, p.flarmProgress), 1;
    case CodeLxwp0:
        return aRegions[0] = RegionOf(p, p.lxwp0), 1;
    case CodeC302:
        return aRegions[0] = RegionOf(p, p.c302), 1;
    case CodePcaid:
        return aRegions[0] = RegionOf(p, p.pcaid), 1;
    case CodePgrmz:
        return aRegions[0] = RegionOf(p, p.fPressureAltitude), 1;
    case CodeLxgrb:
        return aRegions[0] = RegionOf(p, p.byLxgrbFlags), 1;
    case CodePflx0:
        return aRegions[0] = RegionOf(p, p.abyLxwpRate), 1;
    case CodePflx2:
        return aRegions[0] = RegionOf(p, p.pflx2), 1;
    case CodeRpyl:
        return aRegions[0] = RegionOf(p, p.rpyl), 1;
    case CodeLxdt:
        return aRegions[0] = RegionOf(p, p.lxdt), 1;
    case CodeRequest:
        return aRegions[0] = RegionOf(p, p.request), 1;
    case CodeInfo:
        return aRegions[0] = RegionOf(p, p.info), 1;
    case CodeSettings:
        return aRegions[0] = RegionOf(p, p.settings), 1;
    case CodeLogbook:
        return aRegions[0] = RegionOf(p, p.logbook), 1;
    default:
        return 0;
    }
}

// Checks around every sentence handed to the parser: the code must match the identifier's row, and the
// handler may write its own record and the parser's bookkeeping, nothing else, not even the sentence.
class CheckedFramer : public BasicNMEA {
public:
    void OnSentence() override {
        memcpy(abySnapshot, static_cast<const void*>(&parser), sizeof parser);
        memcpy(acSentenceBefore, acSentence, sizeof acSentence);
        memcpy(abyFieldStartBefore, abyFieldStart, sizeof abyFieldStart);

        BasicNMEA::OnSentence();

        // Taken by the first fact that begins the identifier, exactly when its field count is one the fact
        // takes, unless the handler also reads the content.
        const char* pszId = acSentence + 1;
        const facts::DispatchFact* pFact = facts::DispatchFactOf(pszId);
        const SentenceCode uiRow = pFact != nullptr ? pFact->uiCode : CodeNone;
        const bool bCountTaken = pFact != nullptr && pFact->TakesFieldCount(byFieldCount);
        if (!ValidCode(uiLastCode))
            Fail("code %u is not a sentence code (identifier \"%s\")", uiLastCode, pszId);
        if (uiLastCode != CodeNone && (uiLastCode != uiRow || !bCountTaken))
            Fail("identifier \"%s\" with %u fields gave code %u, its row is %u", pszId, byFieldCount,
                 uiLastCode, uiRow);
        if (uiLastCode == CodeNone && bCountTaken && !pFact->bRefusesContent)
            Fail("identifier \"%s\" of row %u with %u fields was refused", pszId, uiRow, byFieldCount);
        if (memcmp(acSentenceBefore, acSentence, sizeof acSentence) != 0 ||
            memcmp(abyFieldStartBefore, abyFieldStart, sizeof abyFieldStart) != 0)
            Fail("the parser changed the sentence \"%s\"", pszId);

        Region aAllowed[8];
        int iAllowed = OwnedRegions(parser, uiRow, aAllowed);
        aAllowed[iAllowed++] = RegionOf(parser, parser.pcSentence);
        aAllowed[iAllowed++] = RegionOf(parser, parser.pbyFieldStart);
        aAllowed[iAllowed++] = RegionOf(parser, parser.byFieldCount);
        aAllowed[iAllowed++] = RegionOf(parser, parser.uiLastSentenceMs);
        const size_t uiChanged = FirstChangeOutside(aAllowed, iAllowed);
        if (uiChanged < sizeof parser)
            Fail("sentence \"%s\" of row %u wrote byte %zu of the parser, outside its record", pszId, uiRow,
                 uiChanged);
    }

private:
    // Index of the first byte that differs from the snapshot outside the regions, or the parser's size.
    size_t FirstChangeOutside(Region* aRegions, int iCount) const {
        std::sort(aRegions, aRegions + iCount,
                  [](const Region& a, const Region& b) { return a.uiBegin < b.uiBegin; });
        const unsigned char* pbyNow = reinterpret_cast<const unsigned char*>(&parser);
        size_t uiFrom = 0;
        for (int i = 0; i <= iCount; ++i) {
            const size_t uiTo = i < iCount ? aRegions[i].uiBegin : sizeof parser;
            if (uiTo > uiFrom && memcmp(pbyNow + uiFrom, abySnapshot + uiFrom, uiTo - uiFrom) != 0)
                for (size_t j = uiFrom; j < uiTo; ++j)
                    if (pbyNow[j] != abySnapshot[j])
                        return j;
            if (i < iCount && aRegions[i].uiEnd > uiFrom)
                uiFrom = aRegions[i].uiEnd;
        }
        return sizeof parser;
    }

    unsigned char abySnapshot[sizeof(common::ParserNMEA)];
    char acSentenceBefore[sizeof acSentence];
    uint8_t abyFieldStartBefore[sizeof abyFieldStart];
};

void CheckFramerState(const BasicNMEA& framer) {
    if (framer.uiState > BasicNMEA::ChecksumLow)
        Fail("framer state %u", framer.uiState);
    if (framer.byLength > BasicNMEA::kMaxLength)
        Fail("framer length %u", framer.byLength);
    if (framer.byFieldCount > BasicNMEA::kMaxFields)
        Fail("framer field count %u", framer.byFieldCount);
    if (!ValidCode(framer.uiLastCode))
        Fail("framer code %u", framer.uiLastCode);
}

// Folds every record, read as its text, into one number, so that the reading cannot be optimised away.
class Digest {
public:
    void Read(uint64_t uiPart) { uiValue = (uiValue ^ uiPart) * 0x100000001B3ull; }

    void ReadRecords(const ParserNMEA& parser) {
        for (const SatelliteTable* pTable : {&parser.gsvGps, &parser.gsvGlonass, &parser.gsvGalileo})
            if (pTable->iFill < 0)
                Fail("satellite fill index %d", pTable->iFill);
        for (int i = 0; i < facts::kDispatchCount; ++i) {
            if (i > 0 && facts::kaDispatch[i - 1].uiCode == facts::kaDispatch[i].uiCode)
                continue; // the same record again
            const QByteArray baRecord = facts::RecordText(parser, facts::kaDispatch[i].uiCode);
            if (baRecord.contains('*'))
                Fail("a text of the record of code %u lost its terminator or padding: %s",
                     facts::kaDispatch[i].uiCode, baRecord.constData());
            for (const char c : baRecord)
                Read(static_cast<uint8_t>(c));
        }
    }

    uint64_t Value() const { return uiValue; }

private:
    uint64_t uiValue = 0xCBF29CE484222325ull;
};

// Every "*" is followed by the right checksum of the sentence it ends, as the instrument frames it.
void RepairChecksums(uint8_t* pbyData, size_t uiSize) {
    size_t uiBody = 0;
    bool bInBody = false;
    for (size_t i = 0; i < uiSize; ++i) {
        if (pbyData[i] == '$' || (!bInBody && pbyData[i] == '!')) {
            bInBody = true;
            uiBody = i + 1;
        } else if (bInBody && pbyData[i] == '*') {
            bInBody = false;
            char acChecksum[3];
            snprintf(acChecksum, sizeof acChecksum, "%02X",
                     sim::XorChecksum(reinterpret_cast<const char*>(pbyData + uiBody), i - uiBody));
            for (int j = 0; j < 2 && i + 1 < uiSize; ++j)
                pbyData[++i] = static_cast<uint8_t>(acChecksum[j]);
        }
    }
}

// The port hands over whatever has arrived; read sizes follow from the bytes, so a finding replays.
size_t NextReadSize(uint64_t& uiState) {
    uiState = uiState * 6364136223846793005ull + 1442695040888963407ull;
    return 1 + static_cast<size_t>((uiState >> 33) % 64);
}

uint64_t Feed(const uint8_t* pbyData, size_t uiSize, bool bDebug) {
    CheckedFramer framer;
    framer.parser.bDebug = bDebug;
    Digest digest;
    uint64_t uiReadState = uiSize;
    for (size_t uiPos = 0; uiPos < uiSize;) {
        size_t uiRead = NextReadSize(uiReadState);
        if (uiRead > uiSize - uiPos)
            uiRead = uiSize - uiPos;
        for (size_t i = uiPos; i < uiPos + uiRead; ++i) {
            framer.ProcessByte(pbyData[i]);
            CheckFramerState(framer);
            digest.Read(framer.uiLastCode);
        }
        uiPos += uiRead;
    }
    digest.ReadRecords(framer.parser);
    return digest.Value();
}

} // namespace

void SetFailureStream(FILE* pStream) {
    pFailureStream = pStream;
}

uint64_t RunProtocolInput(const uint8_t* pbyData, size_t uiSize) {
    const uint64_t uiRaw = Feed(pbyData, uiSize, false);
    // An exact-size copy keeps the address sanitizer watching both ends of the input.
    uint8_t* pbyRepaired = new uint8_t[uiSize == 0 ? 1 : uiSize];
    if (uiSize != 0)
        memcpy(pbyRepaired, pbyData, uiSize);
    RepairChecksums(pbyRepaired, uiSize);
    // A second parser, printing its debug trace, must read the same: the trace changes nothing, and no
    // state outlives its parser.
    const uint64_t uiRepaired = Feed(pbyRepaired, uiSize, false);
    if (Feed(pbyRepaired, uiSize, true) != uiRepaired)
        Fail("the same bytes read differently by a second parser with its debug trace");
    delete[] pbyRepaired;
    return uiRaw ^ (uiRepaired << 1);
}

} // namespace fuzz
