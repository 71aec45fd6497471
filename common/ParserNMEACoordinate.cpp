#include "common/FieldParsers.h"
#include "common/ParserNMEA.h"

namespace common {

float ParserNMEA::ParseCoordinate(const char* pszText, uint8_t byDegDigits) const {
    constexpr float kfDegToRad = 0.017453292f;
    // Position fields are fixed-width, so the degree characters are taken as they come; the unsigned
    // sum keeps a stray byte from overflowing.
    uint32_t uiDegrees = 0;
    uint8_t byIndex = 0;
    for (; byIndex < byDegDigits && pszText[byIndex] != '\0'; byIndex++)
        uiDegrees = uiDegrees * 10u + (static_cast<uint8_t>(pszText[byIndex]) - static_cast<uint32_t>('0'));
    // A field cut short inside its degrees has no minutes.
    const float fMinutes = byIndex == byDegDigits ? ParseFloat(pszText + byIndex) : 0.0f;
    return (fMinutes / 60.0f + static_cast<float>(static_cast<int32_t>(uiDegrees))) * kfDegToRad;
}

} // namespace common
