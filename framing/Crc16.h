#pragma once

// CRC-16/XMODEM, as the instrument's loader checks each firmware chunk.

#include <cstdint>

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection, no final XOR), as the instrument checks each
// firmware chunk it fetches.
uint16_t CalcCrc16Xmodem(const uint8_t* pbyData, uint32_t uiLen);
