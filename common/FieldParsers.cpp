// Lenient converters from sentence fields to numbers, and the helpers every sentence handler shares.
#include "common/FieldParsers.h"

#include <math.h>

namespace common {

namespace {

// The six white-space characters of the C locale; no locale lookup on the parsing path.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Plain ASCII digits only: a byte with the top bit set never counts, whatever the signedness of char.
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* SkipSpace(const char* pc) {
    while (IsSpace(*pc))
        pc++;
    return pc;
}

// Reads a run of decimal digits; an overlong number wraps modulo 2^32 instead of overflowing.
// bDigits tells whether there was at least one.
const char* ReadDecimal(const char* pc, uint32_t& uiValue, bool& bDigits) {
    uiValue = 0;
    bDigits = false;
    while (IsDigit(*pc)) {
        uiValue = uiValue * 10u + static_cast<uint32_t>(*pc - '0');
        bDigits = true;
        pc++;
    }
    return pc;
}

// The exact fraction stays within 64 bits up to 10^19; further digits cannot change a float.
constexpr uint64_t kuiMaxDenominator = 10000000000000000000ull;

// Beyond this a power of ten is infinite or zero in single precision; saturating keeps a long
// exponent from wrapping back into range.
constexpr uint32_t kuiMaxExponent = 100000;

} // namespace

int32_t ParseInt(const char* pszText, int32_t iDefault) {
    const char* pc = SkipSpace(pszText);
    if (*pc == '\0')
        return iDefault;
    const bool bNegative = *pc == '-';
    if (*pc == '-' || *pc == '+')
        pc++;
    uint32_t uiValue;
    bool bDigits;
    ReadDecimal(pc, uiValue, bDigits);
    if (!bDigits)
        return iDefault;
    if (bNegative)
        uiValue = 0u - uiValue;
    return static_cast<int32_t>(uiValue);
}

float ParseFloat(const char* pszText) {
    const char* pc = SkipSpace(pszText);
    if (*pc == '\0')
        return 0.0f;
    const bool bNegative = *pc == '-';
    if (*pc == '-' || *pc == '+')
        pc++;

    uint32_t uiInteger;
    bool bDigits;
    pc = ReadDecimal(pc, uiInteger, bDigits);
    float fValue = static_cast<float>(uiInteger);

    // Some instruments write the decimal comma.
    if (*pc == '.' || *pc == ',') {
        pc++;
        uint64_t uiNumerator = 0;
        uint64_t uiDenominator = 1;
        for (; IsDigit(*pc); pc++) {
            if (uiDenominator < kuiMaxDenominator) {
                uiNumerator = uiNumerator * 10u + static_cast<uint64_t>(*pc - '0');
                uiDenominator *= 10u;
            }
        }
        fValue += static_cast<float>(uiNumerator) / static_cast<float>(uiDenominator);
    }

    if (*pc == 'E' || *pc == 'e') {
        pc = SkipSpace(pc + 1);
        if (*pc != '\0') {
            const bool bNegativeExp = *pc == '-';
            if (*pc == '-' || *pc == '+')
                pc++;
            uint32_t uiExponent = 0;
            for (; IsDigit(*pc); pc++) {
                if (uiExponent < kuiMaxExponent)
                    uiExponent = uiExponent * 10u + static_cast<uint32_t>(*pc - '0');
            }
            const float fExponent = static_cast<float>(uiExponent);
            // Zero stays zero, where an infinite power would turn it into NaN.
            if (fValue != 0.0f)
                fValue *= powf(10.0f, bNegativeExp ? -fExponent : fExponent);
        }
    }
    return bNegative ? -fValue : fValue;
}

uint32_t ParseHex(const char* pszText, bool bPrefix) {
    const char* pc = SkipSpace(pszText);
    if (*pc == '\0')
        return 0;
    if (bPrefix) {
        if (pc[0] != '0' || (pc[1] != 'x' && pc[1] != 'X'))
            return 0;
        pc += 2;
    }
    uint32_t uiValue = 0;
    for (;; pc++) {
        uint32_t uiDigit;
        if (IsDigit(*pc))
            uiDigit = static_cast<uint32_t>(*pc - '0');
        else if (*pc >= 'A' && *pc <= 'F')
            uiDigit = static_cast<uint32_t>(*pc - 'A' + 10);
        else if (*pc >= 'a' && *pc <= 'f')
            uiDigit = static_cast<uint32_t>(*pc - 'a' + 10);
        else
            return uiValue;
        uiValue = uiValue * 16u + uiDigit;
    }
}

int32_t ParseTime(const char* pszText) {
    constexpr int64_t kiMaxSeconds = INT32_MAX;
    if (*pszText == '\0')
        return -1;
    int64_t iTotal = 0;
    int64_t iNumber = 0;
    int iColons = 0;
    for (const char* pc = pszText; *pc != '\0'; pc++) {
        if (IsDigit(*pc)) {
            iNumber = iNumber * 10 + (*pc - '0');
            // A time that does not fit the result is as unreadable as a malformed one.
            if (iNumber > kiMaxSeconds)
                return -1;
        } else if (*pc == ':') {
            if (iColons == 0) {
                iTotal = iNumber * 3600;
            } else if (iColons == 1) {
                if (iNumber > 60)
                    return -1;
                iTotal += iNumber * 60;
            } else {
                return -1;
            }
            iColons++;
            iNumber = 0;
        } else {
            return -1;
        }
    }
    if (iColons == 0)
        return -1;
    if (iColons == 1) {
        // "h:m": the number after the single colon is minutes, checked like the minutes of "h:m:s".
        if (iNumber > 60)
            return -1;
        iTotal += iNumber * 60;
    } else {
        if (iNumber >= 60)
            return -1;
        iTotal += iNumber;
    }
    return iTotal > kiMaxSeconds ? -1 : static_cast<int32_t>(iTotal);
}

float ParseCoordinate(const char* pszText, uint8_t byDegDigits) {
    // Position fields are fixed-width, so the degree characters are taken as they come; the unsigned
    // sum keeps a stray byte from overflowing.
    uint32_t uiDegrees = 0;
    uint8_t byIndex = 0;
    for (; byIndex < byDegDigits && pszText[byIndex] != '\0'; byIndex++)
        uiDegrees = uiDegrees * 10u + (static_cast<uint8_t>(pszText[byIndex]) - static_cast<uint32_t>('0'));
    // A field cut short inside its degrees has no minutes.
    const float fMinutes = byIndex == byDegDigits ? ParseFloat(pszText + byIndex) : 0.0f;
    return DegToRad(fMinutes / 60.0f + static_cast<float>(static_cast<int32_t>(uiDegrees)));
}

} // namespace common
