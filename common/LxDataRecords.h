#pragma once

// Records of the LX data configuration sentences.

#include <cstdint>
#include <cstring>

// The last configuration request or value carried by an LXDT or VNDT sentence. Texts hold their stated
// number of characters plus a terminator, so they are always NUL-terminated.
namespace common {

// GET TP, GET ZONE and GET NAVIGATE name the item they ask for.
struct LxdtGetIndex {
    uint8_t byIndex;
};

struct LxdtPilot {
    char szPilot1[16 + 1];
    char szPilot2[16 + 1];
};

struct LxdtGlider {
    char szGlider1[8 + 1];
    char szGlider2[8 + 1];
    char szGlider3[12 + 1];
};

struct LxdtTskPar {
    bool bTskParFlag;
    uint16_t uiTskParValue;
    // Seconds, -1 when the time field was malformed.
    int32_t iTskParTime;
};

struct LxdtTp {
    uint16_t uiTpField4;
    uint16_t uiTpIndex;
    char szTpName[16 + 1];
    float fLatitude;
    float fLongitude;
};

struct LxdtZone {
    uint16_t uiZoneIndex;
    uint16_t uiZoneField4;
    bool bZoneFlag5;
    bool bZoneFlag6;
    float fZoneAngle7;
    float fZoneAngle8;
    float fZoneAngle9;
    float fZoneValue10;
    float fZoneValue11;
    float fZoneValue12;
};

struct LxdtNavigate {
    uint16_t uiNavIndex;
    char szNavName[24 + 1];
    float fLatitude;
    float fLongitude;
    uint16_t uiNavField7;
    bool bNavFlag8;
    float fNavValue9;
    uint8_t byNavField10;
};

// A value whose flag in abyPresent is 0 was not sent and reads 0.
struct LxdtMcBal {
    uint8_t abyPresent[7];
    float fMacCready;
    uint16_t uiBallast;
    uint8_t byMcBal5;
    uint8_t byMcBal6;
    uint8_t byMcBal7;
    uint8_t byMcBal8;
    uint16_t uiMcBal9;
};

struct LxdtScVar {
    uint8_t byScVar;
};

// One area for all requests: only the variant that LxdtData::byCommand names holds a value. The parser
// always stores a whole variant, which makes it the one to read.
union LxdtPayload {
    LxdtGetIndex getIndex;
    LxdtPilot pilot;
    LxdtGlider glider;
    LxdtTskPar tskPar;
    LxdtTp tp;
    LxdtZone zone;
    LxdtNavigate navigate;
    LxdtMcBal mcBal;
    LxdtScVar scVar;
};

struct LxdtData {
    // Codes of the recognised requests: GET items count from 1, SET items are the letters "d" to "k".
    enum Command : uint8_t {
        None = 0,
        GetInfo = 1,
        GetMcBal = 2,
        GetTp = 3,
        GetZone = 4,
        GetGlider = 5,
        GetPilot = 6,
        GetTskPar = 7,
        GetSens = 8,
        GetScVar = 9,
        GetNavigate = 10,
        SetPilot = 'd',
        SetGlider = 'e',
        SetTskPar = 'f',
        SetTp = 'g',
        SetZone = 'h',
        SetNavigate = 'i',
        SetMcBal = 'j',
        SetScVar = 'k',
    };

    // Every variant starts all zero. An empty initialiser would set only the union's first member, one
    // byte, and leave the rest as the memory was.
    LxdtData() { memset(&payload, 0, sizeof payload); }

    uint8_t byCommand = None;
    // The last sentence began with "$LXDT" (not VNDT, not "!LXDT").
    bool bLxPrefix = false;
    // Variant by byCommand: GetTp, GetZone, GetNavigate -> getIndex; SetPilot -> pilot; SetGlider -> glider;
    // SetTskPar -> tskPar; SetTp -> tp; SetZone -> zone; SetNavigate -> navigate; SetMcBal -> mcBal;
    // SetScVar -> scVar. The other codes carry none.
    LxdtPayload payload;
};

} // namespace common
