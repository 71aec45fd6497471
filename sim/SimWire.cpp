// The simulated instrument's own sentence reading and writing, apart from the tool's framer.
#include "sim/SimWire.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

int HexValue(uint8_t byChar) {
    if (byChar >= '0' && byChar <= '9')
        return byChar - '0';
    if (byChar >= 'A' && byChar <= 'F')
        return byChar - 'A' + 10;
    if (byChar >= 'a' && byChar <= 'f')
        return byChar - 'a' + 10;
    return -1;
}

// Reads the sign and the whole digits; *ppcRest is left on the first character after them.
bool ParseWhole(const char* pcText, bool* pbNegative, int64_t* piWhole, const char** ppcRest) {
    *pbNegative = *pcText == '-';
    if (*pcText == '-' || *pcText == '+')
        ++pcText;
    int64_t iValue = 0;
    int iDigits = 0;
    while (*pcText >= '0' && *pcText <= '9') {
        if (++iDigits > 15)
            return false;
        iValue = iValue * 10 + (*pcText++ - '0');
    }
    *piWhole = iValue;
    *ppcRest = pcText;
    return iDigits > 0;
}

} // namespace

uint8_t XorChecksum(const char* pcBody, size_t uiLen) {
    uint8_t bySum = 0;
    for (size_t i = 0; i < uiLen; ++i)
        bySum ^= static_cast<uint8_t>(pcBody[i]);
    return bySum;
}

size_t FrameSentence(const char* pcBody, char* pcOut, size_t uiOutSize) {
    const size_t uiBody = strlen(pcBody);
    const int iLen = snprintf(pcOut, uiOutSize, "$%s*%02X\r\n", pcBody, XorChecksum(pcBody, uiBody));
    if (iLen < 0 || static_cast<size_t>(iLen) >= uiOutSize) {
        if (uiOutSize > 0)
            pcOut[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(iLen);
}

uint16_t Crc16Xmodem(const uint8_t* pbyData, size_t uiLen) {
    uint16_t uiCrc = 0;
    for (size_t i = 0; i < uiLen; ++i) {
        uiCrc ^= static_cast<uint16_t>(pbyData[i] << 8);
        for (int iBit = 0; iBit < 8; ++iBit)
            uiCrc = (uiCrc & 0x8000) ? static_cast<uint16_t>((uiCrc << 1) ^ 0x1021)
                                     : static_cast<uint16_t>(uiCrc << 1);
    }
    return uiCrc;
}

SentenceReader::Result SentenceReader::Feed(uint8_t byChar) {
    // A "$" always begins a new sentence: a tool that restarts mid-line must not lose its next command.
    if (byChar == '$') {
        eState = InBody;
        uiLength = 0;
        byChecksum = 0;
        return None;
    }
    switch (eState) {
    case Idle:
        return None;
    case InBody:
        if (byChar == '*') {
            acBody[uiLength] = '\0';
            eState = HighHex;
            return None;
        }
        if (uiLength == kMaxBody) {
            eState = Idle;
            return BadSentence;
        }
        acBody[uiLength++] = static_cast<char>(byChar);
        byChecksum ^= byChar;
        return None;
    case HighHex:
        iReceived = HexValue(byChar) * 16;
        eState = iReceived < 0 ? Idle : LowHex;
        return iReceived < 0 ? BadSentence : None;
    case LowHex: {
        const int iLow = HexValue(byChar);
        eState = Idle;
        if (iLow < 0 || iReceived + iLow != byChecksum)
            return BadSentence;
        return Sentence;
    }
    }
    return None;
}

SentenceFields::SentenceFields(const char* pcBody) {
    snprintf(acText, sizeof(acText), "%s", pcBody);
    apcField[iCount++] = acText;
    for (char* pc = acText; *pc != '\0'; ++pc) {
        if (*pc != ',')
            continue;
        *pc = '\0';
        // A talker's 24th comma and beyond stay inside the last field.
        if (iCount == kMaxFields)
            break;
        apcField[iCount++] = pc + 1;
    }
}

const char* SentenceFields::At(int iIndex) const {
    return iIndex >= 0 && iIndex < iCount ? apcField[iIndex] : "";
}

bool ParseInteger(const char* pcText, int64_t* piValue) {
    bool bNegative = false;
    int64_t iWhole = 0;
    const char* pcRest = nullptr;
    if (!ParseWhole(pcText, &bNegative, &iWhole, &pcRest) || *pcRest != '\0')
        return false;
    *piValue = bNegative ? -iWhole : iWhole;
    return true;
}

bool ParseTenths(const char* pcText, int64_t* piTenths) {
    bool bNegative = false;
    int64_t iWhole = 0;
    const char* pcRest = nullptr;
    if (!ParseWhole(pcText, &bNegative, &iWhole, &pcRest))
        return false;
    int iTenth = 0;
    bool bRoundUp = false;
    if (*pcRest == '.') {
        ++pcRest;
        for (int iPlace = 0; *pcRest >= '0' && *pcRest <= '9'; ++iPlace, ++pcRest) {
            if (iPlace == 0)
                iTenth = *pcRest - '0';
            else if (iPlace == 1)
                bRoundUp = *pcRest >= '5';
        }
    }
    if (*pcRest != '\0')
        return false;
    const int64_t iTenths = iWhole * 10 + iTenth + (bRoundUp ? 1 : 0);
    *piTenths = bNegative ? -iTenths : iTenths;
    return true;
}

} // namespace sim
