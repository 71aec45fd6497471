#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

#include <cstring>

namespace common {

namespace {

const float kDegToRad = 0.017453292f;

struct SubKeyword {
    const char* pszText;
    size_t uiLength;
    uint8_t byCommand;
};

// Tried in this order; the first whose text begins field 2 wins.
const SubKeyword kGetItems[] = {
    {"INFO", 4, LxdtData::GetInfo},      {"MC_BAL", 6, LxdtData::GetMcBal},
    {"TP", 2, LxdtData::GetTp},          {"ZONE", 4, LxdtData::GetZone},
    {"GLIDER", 6, LxdtData::GetGlider},  {"PILOT", 5, LxdtData::GetPilot},
    {"TSK_PAR", 7, LxdtData::GetTskPar}, {"SENS", 4, LxdtData::GetSens},
    {"SC_VAR", 6, LxdtData::GetScVar},   {"NAVIGATE", 8, LxdtData::GetNavigate},
};

const SubKeyword kSetItems[] = {
    {"PILOT", 5, LxdtData::SetPilot},    {"GLIDER", 6, LxdtData::SetGlider},
    {"TSK_PAR", 7, LxdtData::SetTskPar}, {"TP", 2, LxdtData::SetTp},
    {"ZONE", 4, LxdtData::SetZone},      {"NAVIGATE", 8, LxdtData::SetNavigate},
    {"SC_VAR", 6, LxdtData::SetScVar},   {"MC_BAL", 6, LxdtData::SetMcBal},
};

template <size_t N> uint8_t FindCommand(const SubKeyword (&aItems)[N], const char* pszField) {
    for (const SubKeyword& item : aItems)
        if (strncmp(pszField, item.pszText, item.uiLength) == 0)
            return item.byCommand;
    return LxdtData::None;
}

bool StartsWith(const char* pszField, const char* pszPrefix) {
    return strncmp(pszField, pszPrefix, strlen(pszPrefix)) == 0;
}

int32_t IntOf(const char* pszField) {
    return ParseInt(pszField, 0);
}

// At most N - 1 characters of the field; the rest of the member, its last byte included, is NUL.
template <size_t N> void CopyText(char (&szDest)[N], const char* pszField) {
    strncpy(szDest, pszField, N - 1);
    szDest[N - 1] = '\0';
}

// Positions come in thousandths of a minute of arc.
float MilliMinutesToRadians(const char* pszField) {
    return static_cast<float>(IntOf(pszField)) / 60000.0f * kDegToRad;
}

// Every reader below builds its variant whole and the caller assigns it to the payload, so the variant
// that byCommand names is always the one last stored.
LxdtPilot ReadPilot(const ParserNMEA& parser) {
    LxdtPilot pilot = {};
    CopyText(pilot.szPilot1, parser.GetField(3));
    CopyText(pilot.szPilot2, parser.GetField(4));
    return pilot;
}

LxdtGlider ReadGlider(const ParserNMEA& parser) {
    LxdtGlider glider = {};
    CopyText(glider.szGlider1, parser.GetField(4));
    CopyText(glider.szGlider2, parser.GetField(5));
    CopyText(glider.szGlider3, parser.GetField(6));
    return glider;
}

LxdtTskPar ReadTskPar(const ParserNMEA& parser) {
    LxdtTskPar tskPar = {};
    tskPar.bTskParFlag = IntOf(parser.GetField(3)) != 0;
    tskPar.uiTskParValue = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    tskPar.iTskParTime = ParseTime(parser.GetField(5));
    return tskPar;
}

LxdtTp ReadTp(const ParserNMEA& parser) {
    LxdtTp tp = {};
    tp.uiTpField4 = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    tp.uiTpIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    CopyText(tp.szTpName, parser.GetField(7));
    tp.fLatitude = MilliMinutesToRadians(parser.GetField(5));
    tp.fLongitude = MilliMinutesToRadians(parser.GetField(6));
    return tp;
}

LxdtZone ReadZone(const ParserNMEA& parser) {
    LxdtZone zone = {};
    zone.uiZoneIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    zone.uiZoneField4 = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    zone.bZoneFlag5 = IntOf(parser.GetField(5)) != 0;
    zone.bZoneFlag6 = IntOf(parser.GetField(6)) != 0;
    zone.fZoneAngle7 = ParseFloat(parser.GetField(7)) * kDegToRad;
    zone.fZoneAngle8 = ParseFloat(parser.GetField(8)) * kDegToRad;
    zone.fZoneAngle9 = ParseFloat(parser.GetField(9)) * kDegToRad;
    zone.fZoneValue10 = static_cast<float>(IntOf(parser.GetField(10)));
    zone.fZoneValue11 = static_cast<float>(IntOf(parser.GetField(11)));
    zone.fZoneValue12 = static_cast<float>(IntOf(parser.GetField(12)));
    return zone;
}

LxdtNavigate ReadNavigate(const ParserNMEA& parser) {
    LxdtNavigate navigate = {};
    navigate.uiNavIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    CopyText(navigate.szNavName, parser.GetField(4));
    navigate.fLatitude = MilliMinutesToRadians(parser.GetField(5));
    navigate.fLongitude = MilliMinutesToRadians(parser.GetField(6));
    navigate.uiNavField7 = static_cast<uint16_t>(IntOf(parser.GetField(7)));
    navigate.bNavFlag8 = IntOf(parser.GetField(8)) != 0;
    navigate.fNavValue9 = ParseFloat(parser.GetField(9));
    navigate.byNavField10 = static_cast<uint8_t>(IntOf(parser.GetField(10)));
    return navigate;
}

// Only the values actually sent count; each carries its own presence flag.
LxdtMcBal ReadMcBal(const ParserNMEA& parser) {
    LxdtMcBal mcBal = {};
    for (uint8_t byField = 3; byField <= 9; ++byField)
        mcBal.abyPresent[byField - 3] = parser.GetField(byField)[0] != '\0' ? 1 : 0;
    if (mcBal.abyPresent[0])
        mcBal.fMacCready = ParseFloat(parser.GetField(3));
    if (mcBal.abyPresent[1])
        mcBal.uiBallast = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    if (mcBal.abyPresent[2])
        mcBal.byMcBal5 = static_cast<uint8_t>(IntOf(parser.GetField(5)));
    if (mcBal.abyPresent[3])
        mcBal.byMcBal6 = static_cast<uint8_t>(IntOf(parser.GetField(6)));
    if (mcBal.abyPresent[4])
        mcBal.byMcBal7 = static_cast<uint8_t>(IntOf(parser.GetField(7)));
    if (mcBal.abyPresent[5])
        mcBal.byMcBal8 = static_cast<uint8_t>(IntOf(parser.GetField(8)));
    if (mcBal.abyPresent[6])
        mcBal.uiMcBal9 = static_cast<uint16_t>(IntOf(parser.GetField(9)));
    return mcBal;
}

void StoreSetValues(const ParserNMEA& parser, uint8_t byCommand, LxdtPayload& payload) {
    switch (byCommand) {
    case LxdtData::SetPilot:
        payload.pilot = ReadPilot(parser);
        break;
    case LxdtData::SetGlider:
        payload.glider = ReadGlider(parser);
        break;
    case LxdtData::SetTskPar:
        payload.tskPar = ReadTskPar(parser);
        break;
    case LxdtData::SetTp:
        payload.tp = ReadTp(parser);
        break;
    case LxdtData::SetZone:
        payload.zone = ReadZone(parser);
        break;
    case LxdtData::SetNavigate:
        payload.navigate = ReadNavigate(parser);
        break;
    case LxdtData::SetMcBal:
        payload.mcBal = ReadMcBal(parser);
        break;
    case LxdtData::SetScVar:
        payload.scVar = LxdtScVar{static_cast<uint8_t>(IntOf(parser.GetField(3)))};
        break;
    default:
        break;
    }
}

} // namespace

bool ParserNMEA::ParseLXDT() {
    lxdt.bLxPrefix = StartsWith(GetField(0), "$LXDT");
    const char* pszKeyword = GetField(1);
    uint8_t byCommand = LxdtData::None;
    if (StartsWith(pszKeyword, "GET")) {
        byCommand = FindCommand(kGetItems, GetField(2));
        if (byCommand == LxdtData::GetTp || byCommand == LxdtData::GetZone ||
            byCommand == LxdtData::GetNavigate)
            lxdt.payload.getIndex = LxdtGetIndex{static_cast<uint8_t>(IntOf(GetField(3)))};
    } else if (StartsWith(pszKeyword, "SET")) {
        byCommand = FindCommand(kSetItems, GetField(2));
        StoreSetValues(*this, byCommand, lxdt.payload);
    }
    // An unknown keyword or item leaves the last recognised request in place.
    if (byCommand != LxdtData::None)
        lxdt.byCommand = byCommand;
    return true;
}

} // namespace common
