// Display texts of dates, times and numbers, and the IGC file names, in static buffers.
#include "common/Formats.h"

#include <math.h>
#include <stdio.h>

namespace common {

namespace {

// Largest magnitude that "%d" shows; beyond it a display value saturates instead of overflowing.
constexpr float kfIntLimit = 2147483648.0f;
constexpr int kiIntMax = 2147483647;

// Toward zero, saturating at +-2147483647; NaN shows as 0.
int SaturateToInt(float fValue) {
    if (fValue != fValue)
        return 0;
    if (fValue >= kfIntLimit)
        return kiIntMax;
    if (fValue <= -kfIntLimit)
        return -kiIntMax;
    return static_cast<int>(fValue);
}

// Toward zero; from 2^23 on every float is already whole.
float TruncFloat(float fValue) {
    if (fValue < 8388608.0f && fValue > -8388608.0f)
        return static_cast<float>(static_cast<int>(fValue));
    return fValue;
}

float FloorFloat(float fValue) {
    const float fTrunc = TruncFloat(fValue);
    return fTrunc > fValue ? fTrunc - 1.0f : fTrunc;
}

// Nine decimals are more than a float carries and as many as an int holds.
constexpr int kiMaxDecimals = 9;

// Base-36 digits; the closing '~' is never reached.
const char kszSerialDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ~";

} // namespace

const char* FormatFixed(float fValue, int iDecimals) {
    static char szText[25];
    const float fSign = fValue > 0.0f ? 1.0f : (fValue < 0.0f ? -1.0f : 0.0f);
    const float fAbs = fValue < 0.0f ? -fValue : fValue;

    if (iDecimals < 0) {
        // Rounds to tens, hundreds, ... with halves away from zero.
        const float fPower = powf(10.0f, -static_cast<float>(iDecimals));
        const float fQuotient = TruncFloat(fAbs / fPower + 0.5f);
        snprintf(szText, sizeof(szText), "%d", SaturateToInt(fSign * fQuotient * fPower));
        return szText;
    }
    if (iDecimals == 0) {
        // Halves toward plus infinity: 2.5 gives 3, -2.5 gives -2.
        snprintf(szText, sizeof(szText), "%d", SaturateToInt(FloorFloat(fSign * fAbs + 0.5f)));
        return szText;
    }

    if (iDecimals > kiMaxDecimals)
        iDecimals = kiMaxDecimals;
    const float fPower = powf(10.0f, static_cast<float>(iDecimals));
    const float fRounded = fAbs + 0.5f / fPower;
    const float fInteger = TruncFloat(fRounded);
    const int iFraction = SaturateToInt((fRounded - fInteger) * fPower);
    // The sign goes first so that zero and positive values can skip it.
    snprintf(szText, sizeof(szText), "%c%d.%0*d", fSign < 0.0f ? '-' : '+', SaturateToInt(fInteger),
             iDecimals, iFraction);
    return szText[0] == '+' ? szText + 1 : szText;
}

const char* FormatDate(JulianDate date, int iFormat) {
    static char szText[128];
    if (iFormat == 0)
        snprintf(szText, sizeof(szText), "%02d.%02d.%02d", date.Day(), date.Month(), date.Year() % 100);
    else if (iFormat == 1)
        snprintf(szText, sizeof(szText), "%02d.%02d.%d", date.Day(), date.Month(), date.Year());
    else
        snprintf(szText, sizeof(szText), "Inv. fmt");
    return szText;
}

const char* FormatTime(uint32_t uiSeconds, bool bWithSeconds, bool bLeadingZero) {
    static char szText[64];
    // Hours are not wrapped at 24, so durations format too; every part fits an int.
    const int iHours = static_cast<int>(uiSeconds / 3600u);
    if (bWithSeconds) {
        const int iMinutes = static_cast<int>(uiSeconds % 3600u / 60u);
        const int iSecs = static_cast<int>(uiSeconds % 60u);
        snprintf(szText, sizeof(szText), bLeadingZero ? "%02d:%02d:%02d" : "%d:%02d:%02d", iHours, iMinutes,
                 iSecs);
    } else {
        const int iMinutes = static_cast<int>(uiSeconds / 60u % 60u);
        snprintf(szText, sizeof(szText), bLeadingZero ? "%02d:%02d" : "%d:%02d", iHours, iMinutes);
    }
    return szText;
}

const char* FormatIGCSerial(uint32_t uiSerial) {
    // Three base-36 characters and the terminator.
    static char szSerial[4];
    const uint32_t uiRest = uiSerial % 46656u;
    szSerial[0] = kszSerialDigits[uiRest / 1296u];
    szSerial[1] = kszSerialDigits[uiRest % 1296u / 36u];
    szSerial[2] = kszSerialDigits[uiRest % 36u];
    szSerial[3] = '\0';
    return szSerial;
}

const char* FormatIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) {
    static char szFileName[35];
    const JulianDate date(uiDt);
    snprintf(szFileName, sizeof(szFileName), "%04u-%02u-%02u-VNK-%s-%02u.igc",
             static_cast<unsigned>(date.Year()), static_cast<unsigned>(date.Month()),
             static_cast<unsigned>(date.Day()), FormatIGCSerial(uiSerial), static_cast<unsigned>(byDailyNr));
    return szFileName;
}

} // namespace common
