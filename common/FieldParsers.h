#pragma once

// Lenient converters from sentence fields to numbers, and the helpers every sentence handler shares.

#include <cstddef>
#include <cstdint>
#include <cstring>

// Lenient converters from a sentence field's text to a number. An empty or unreadable field gives the
// default; characters after the number are ignored. None of them uses the C library's conversions.
namespace common {

int32_t ParseInt(const char* pszText, int32_t iDefault);
float ParseFloat(const char* pszText);
uint32_t ParseHex(const char* pszText, bool bPrefix);
// Seconds of an "h:m:s" text, -1 when malformed.
int32_t ParseTime(const char* pszText);
// An NMEA latitude (2 degree digits) or longitude (3) in radians, without the hemisphere's sign.
float ParseCoordinate(const char* pszText, uint8_t byDegDigits);

// The integer of a field, 0 when it has none.
inline int32_t IntOf(const char* pszField) {
    return ParseInt(pszField, 0);
}

// The text begins with the whole of pszPrefix; a shorter text does not. The first difference ends the
// comparison, so nothing past the text's terminator is read.
inline bool StartsWith(const char* pszText, const char* pszPrefix) {
    for (; *pszPrefix != '\0'; ++pszText, ++pszPrefix)
        if (*pszText != *pszPrefix)
            return false;
    return true;
}

// Takes at most the member's capacity less one from the field and pads with NUL, so that the last byte
// always terminates; the field is read no further than its own end.
template <size_t N> void CopyText(char (&szMember)[N], const char* pszField) {
    strncpy(szMember, pszField, N - 1);
    szMember[N - 1] = '\0';
}

// Single-precision constants of the records' units: radians, and metres per second.
constexpr float kfDegToRad = 0.017453292f;

inline float DegToRad(float fDegrees) {
    return fDegrees * kfDegToRad;
}

inline float KnotsToMs(float fKnots) {
    return fKnots * 1.852f / 3.6f;
}

} // namespace common
