// Outgoing sentences: the checksum and line end appended to a command.
#include "framing/AppendChecksum.h"

#include <cstdint>

void AppendChecksum(char* pszSentence) {
    if (*pszSentence == '\0')
        return;
    static const char kHexDigits[] = "0123456789ABCDEF";
    // The start character is not part of the checksum.
    uint8_t byChecksum = 0;
    char* pc = pszSentence + 1;
    for (; *pc != '\0'; ++pc)
        byChecksum ^= static_cast<uint8_t>(*pc);
    *pc++ = '*';
    *pc++ = kHexDigits[byChecksum >> 4];
    *pc++ = kHexDigits[byChecksum & 0x0F];
    *pc++ = '\r';
    *pc++ = '\n';
    *pc = '\0';
}
