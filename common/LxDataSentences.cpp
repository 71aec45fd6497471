// The LX data configuration sentence handlers.
#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

namespace common {

namespace {

// Positions come in thousandths of a minute of arc.
float MilliMinutesToRadians(const char* pszField) {
    return DegToRad(static_cast<float>(IntOf(pszField)) / 60000.0f);
}

// Every reader below builds its variant whole and then stores it in the payload, so the variant that
// byCommand names is always the one last stored. Fields 1 and 2 are the keyword and the item.

// GET TP, ZONE, NAVIGATE: 3 the item's index.
void ReadGetIndex(const ParserNMEA& parser, LxdtPayload& payload) {
    payload.getIndex = LxdtGetIndex{static_cast<uint8_t>(IntOf(parser.GetField(3)))};
}

// SET PILOT: 3 and 4 the two pilots' names.
void ReadPilot(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtPilot pilot = {};
    CopyText(pilot.szPilot1, parser.GetField(3));
    CopyText(pilot.szPilot2, parser.GetField(4));
    payload.pilot = pilot;
}

// SET GLIDER: 4, 5 and 6 three texts; 3 is not read.
void ReadGlider(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtGlider glider = {};
    CopyText(glider.szGlider1, parser.GetField(4));
    CopyText(glider.szGlider2, parser.GetField(5));
    CopyText(glider.szGlider3, parser.GetField(6));
    payload.glider = glider;
}

// SET TSK_PAR: 3 flag, 4 value, 5 time h:m:s.
void ReadTskPar(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtTskPar tskPar = {};
    tskPar.bTskParFlag = IntOf(parser.GetField(3)) != 0;
    tskPar.uiTskParValue = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    tskPar.iTskParTime = ParseTime(parser.GetField(5));
    payload.tskPar = tskPar;
}

// SET TP: 3 index, 4 kept as sent, 5 latitude and 6 longitude in 0.001 minutes of arc, 7 name.
void ReadTp(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtTp tp = {};
    tp.uiTpField4 = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    tp.uiTpIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    CopyText(tp.szTpName, parser.GetField(7));
    tp.fLatitude = MilliMinutesToRadians(parser.GetField(5));
    tp.fLongitude = MilliMinutesToRadians(parser.GetField(6));
    payload.tp = tp;
}

// SET ZONE: 3 index, 4 kept as sent, 5 and 6 flags, 7 to 9 angles in degrees, 10 to 12 whole values.
void ReadZone(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtZone zone = {};
    zone.uiZoneIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    zone.uiZoneField4 = static_cast<uint16_t>(IntOf(parser.GetField(4)));
    zone.bZoneFlag5 = IntOf(parser.GetField(5)) != 0;
    zone.bZoneFlag6 = IntOf(parser.GetField(6)) != 0;
    zone.fZoneAngle7 = DegToRad(ParseFloat(parser.GetField(7)));
    zone.fZoneAngle8 = DegToRad(ParseFloat(parser.GetField(8)));
    zone.fZoneAngle9 = DegToRad(ParseFloat(parser.GetField(9)));
    zone.fZoneValue10 = static_cast<float>(IntOf(parser.GetField(10)));
    zone.fZoneValue11 = static_cast<float>(IntOf(parser.GetField(11)));
    zone.fZoneValue12 = static_cast<float>(IntOf(parser.GetField(12)));
    payload.zone = zone;
}

// SET NAVIGATE: 3 index, 4 name, 5 latitude and 6 longitude in 0.001 minutes of arc, 7 as sent, 8 flag,
// 9 value, 10 as sent.
void ReadNavigate(const ParserNMEA& parser, LxdtPayload& payload) {
    LxdtNavigate navigate = {};
    navigate.uiNavIndex = static_cast<uint16_t>(IntOf(parser.GetField(3)));
    CopyText(navigate.szNavName, parser.GetField(4));
    navigate.fLatitude = MilliMinutesToRadians(parser.GetField(5));
    navigate.fLongitude = MilliMinutesToRadians(parser.GetField(6));
    navigate.uiNavField7 = static_cast<uint16_t>(IntOf(parser.GetField(7)));
    navigate.bNavFlag8 = IntOf(parser.GetField(8)) != 0;
    navigate.fNavValue9 = ParseFloat(parser.GetField(9));
    navigate.byNavField10 = static_cast<uint8_t>(IntOf(parser.GetField(10)));
    payload.navigate = navigate;
}

// SET MC_BAL: 3 MacCready in m/s, 4 ballast, 5 to 9 as sent. Only the values actually sent count; each
// carries its own presence flag.
void ReadMcBal(const ParserNMEA& parser, LxdtPayload& payload) {
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
    payload.mcBal = mcBal;
}

// SET SC_VAR: 3 the mode.
void ReadScVar(const ParserNMEA& parser, LxdtPayload& payload) {
    payload.scVar = LxdtScVar{static_cast<uint8_t>(IntOf(parser.GetField(3)))};
}

// An item of a GET or SET request: the text that begins field 2, the code that the record takes, and the
// reader of the values that the item carries, if it carries any.
struct Item {
    const char* pszText;
    uint8_t byCommand;
    void (*pRead)(const ParserNMEA& parser, LxdtPayload& payload);
};

// Tried in this order; the first whose text begins field 2 wins.
const Item kGetItems[] = {
    {"INFO", LxdtData::GetInfo, nullptr},      {"MC_BAL", LxdtData::GetMcBal, nullptr},
    {"TP", LxdtData::GetTp, ReadGetIndex},     {"ZONE", LxdtData::GetZone, ReadGetIndex},
    {"GLIDER", LxdtData::GetGlider, nullptr},  {"PILOT", LxdtData::GetPilot, nullptr},
    {"TSK_PAR", LxdtData::GetTskPar, nullptr}, {"SENS", LxdtData::GetSens, nullptr},
    {"SC_VAR", LxdtData::GetScVar, nullptr},   {"NAVIGATE", LxdtData::GetNavigate, ReadGetIndex},
};

const Item kSetItems[] = {
    {"PILOT", LxdtData::SetPilot, ReadPilot},     {"GLIDER", LxdtData::SetGlider, ReadGlider},
    {"TSK_PAR", LxdtData::SetTskPar, ReadTskPar}, {"TP", LxdtData::SetTp, ReadTp},
    {"ZONE", LxdtData::SetZone, ReadZone},        {"NAVIGATE", LxdtData::SetNavigate, ReadNavigate},
    {"SC_VAR", LxdtData::SetScVar, ReadScVar},    {"MC_BAL", LxdtData::SetMcBal, ReadMcBal},
};

template <size_t N> const Item* FindItem(const Item (&aItems)[N], const char* pszField) {
    for (const Item& item : aItems)
        if (StartsWith(pszField, item.pszText))
            return &item;
    return nullptr;
}

} // namespace

// LXDT and VNDT: 1 GET or SET, 2 the item, 3 on the item's index or values.
bool ParserNMEA::ParseLXDT() {
    lxdt.bLxPrefix = StartsWith(GetField(0), "$LXDT");
    const char* pszKeyword = GetField(1);
    const Item* pItem = nullptr;
    if (StartsWith(pszKeyword, "GET"))
        pItem = FindItem(kGetItems, GetField(2));
    else if (StartsWith(pszKeyword, "SET"))
        pItem = FindItem(kSetItems, GetField(2));
    // An unknown keyword or item leaves the last recognised request in place.
    if (pItem == nullptr)
        return true;
    if (pItem->pRead != nullptr)
        pItem->pRead(*this, lxdt.payload);
    lxdt.byCommand = pItem->byCommand;
    return true;
}

} // namespace common
