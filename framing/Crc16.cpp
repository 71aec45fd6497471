// CRC-16/XMODEM, as the instrument's loader checks each firmware chunk.
#include "framing/Crc16.h"

namespace {

// One byte at a time: entry i is the CRC of the single byte i, most significant bit first.
struct Crc16Table {
    uint16_t auiEntry[256];

    constexpr Crc16Table() : auiEntry() {
        for (int i = 0; i < 256; i++) {
            uint16_t uiCrc = static_cast<uint16_t>(i << 8);
            for (int iBit = 0; iBit < 8; iBit++)
                uiCrc = static_cast<uint16_t>((uiCrc & 0x8000) ? (uiCrc << 1) ^ 0x1021 : uiCrc << 1);
            auiEntry[i] = uiCrc;
        }
    }
};

constexpr Crc16Table kCrc16Table;
static_assert(kCrc16Table.auiEntry[1] == 0x1021 && kCrc16Table.auiEntry[255] == 0x1EF0);

} // namespace

uint16_t CalcCrc16Xmodem(const uint8_t* pbyData, uint32_t uiLen) {
    uint16_t uiCrc = 0;
    for (uint32_t i = 0; i < uiLen; i++)
        uiCrc = static_cast<uint16_t>((uiCrc << 8) ^ kCrc16Table.auiEntry[(uiCrc >> 8) ^ pbyData[i]]);
    return uiCrc;
}
