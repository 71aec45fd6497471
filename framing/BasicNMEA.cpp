// The sentence framer's start, checksum and limits.
#include "framing/BasicNMEA.h"

#include <cstdio>

namespace {

// A non-hexadecimal character is not rejected: it enters the received checksum as 255.
uint8_t DigitValue(uint8_t byChar) {
    if (byChar >= '0' && byChar <= '9')
        return static_cast<uint8_t>(byChar - '0');
    if (byChar >= 'A' && byChar <= 'F')
        return static_cast<uint8_t>(byChar - 'A' + 10);
    if (byChar >= 'a' && byChar <= 'f')
        return static_cast<uint8_t>(byChar - 'a' + 10);
    return 255;
}

} // namespace

BasicNMEA::BasicNMEA()
    : byLength(0), byChecksum(0), byRxChecksum(0), byFieldCount(0), uiState(Idle), parser(), uiLastCode(0) {}

void BasicNMEA::StartSentence(uint8_t byStart) {
    acSentence[0] = static_cast<char>(byStart);
    byLength = 1;
    byChecksum = 0;
    byFieldCount = 0;
    abyFieldStart[0] = 0;
    uiState = Body;
}

// Starts, separators, the checksum and the size limits.
void BasicNMEA::ProcessOtherByte(uint8_t byChar) {
    switch (uiState) {
    case Idle:
        if (byChar == '$' || byChar == '!')
            StartSentence(byChar);
        break;
    case Body:
        if (byChar == '$') {
            StartSentence(byChar);
        } else if (byChar == '*') {
            ++byFieldCount;
            acSentence[byLength] = '\0';
            uiState = ChecksumHigh;
        } else {
            byChecksum ^= byChar;
            if (byChar == ',') {
                ++byFieldCount;
                if (byFieldCount < kMaxFields)
                    abyFieldStart[byFieldCount] = static_cast<uint8_t>(byLength + 1);
                byChar = '\0';
            }
            acSentence[byLength++] = static_cast<char>(byChar);
            if (byFieldCount >= kMaxFields) {
                fprintf(stderr, "NMEA field count error\n");
                uiState = Idle;
            }
            if (byLength >= kMaxLength) {
                fprintf(stderr, "NMEA size error.\n");
                uiState = Idle;
            }
        }
        break;
    case ChecksumHigh:
        byRxChecksum = static_cast<uint8_t>(DigitValue(byChar) << 4);
        uiState = ChecksumLow;
        break;
    case ChecksumLow:
        byRxChecksum = static_cast<uint8_t>(byRxChecksum + DigitValue(byChar));
        uiState = Idle;
        if (byRxChecksum == byChecksum)
            OnSentence();
        else
            fprintf(stderr, "NMEA CRC error %u-%u.\n", byRxChecksum, byChecksum);
        break;
    default:
        uiState = Idle;
        break;
    }
}

void BasicNMEA::OnSentence() {
    uiLastCode = parser.ParseNMEA(acSentence, abyFieldStart, byFieldCount);
}
