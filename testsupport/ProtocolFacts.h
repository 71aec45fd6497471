#pragma once

// What the protocol tests and the protocol fuzz harness know of the parser, each written once: which
// identifiers are taken with which field counts, and every record as text.
#include "framing/BasicNMEA.h"

#include <QByteArray>

#include <cstdint>

namespace facts {

// An identifier text that begins the identifier of the sentences it takes, compared over its whole length
// in table order, and the field counts (identifier included) its handler takes.
struct DispatchFact {
    const char* pszId;
    common::SentenceCode uiCode;
    const char* pszRefusal = nullptr; // name in the message of a refused field count, if it has one
    uint8_t byMinFields = 1;
    uint8_t byMaxFields = BasicNMEA::kMaxFields;
    uint8_t byFieldStep = 1;      // GSV: four more fields for each satellite
    bool bRefusesContent = false; // GSV may also refuse a sentence whose count it takes

    bool TakesFieldCount(int iFields) const {
        return iFields >= byMinFields && iFields <= byMaxFields && (iFields - byMinFields) % byFieldStep == 0;
    }
};

extern const DispatchFact kaDispatch[];
extern const int kDispatchCount;

// The fact of the first text that begins the identifier (without the start character), or nullptr.
const DispatchFact* DispatchFactOf(const char* pszId);

// The record that a sentence of the code fills, as text in member order: angles in degrees, fixed texts
// quoted, time stamps left out. A text member that lacks its terminator or its NUL padding shows a mark
// with "*", a character that no field can carry.
QByteArray RecordText(const common::ParserNMEA& parser, common::SentenceCode uiCode);

} // namespace facts
