#pragma once

// What the protocol tests and the protocol fuzz harness know of the parser, each written once: which
// identifiers are taken with which field counts, how the instrument frames a sentence, and every record
// as text.
#include "framing/BasicNMEA.h"
#include "sim/SimWire.h"

#include <QByteArray>

#include <cstdint>

namespace facts {

// An identifier text that begins the identifier of the sentences it takes, compared over its whole length
// in table order, and the field counts (identifier included) its handler takes.
struct DispatchFact {
    const char* pszId;
    uint8_t byMinFields;
    uint8_t byMaxFields;
    uint8_t byFieldStep; // GSV: four more fields for each satellite
    common::SentenceCode uiCode;
    const char* pszRefusal; // name in the message of a refused field count; nullptr: refused silently
    bool bRefusesContent;   // GSV may also refuse a sentence whose count it takes

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
inline bool HasBrokenText(const QByteArray& baRecord) {
    return baRecord.contains('*');
}

// Milliseconds from one time-of-day stamp to a later one, across midnight too.
uint32_t MsBetween(uint32_t uiFromMs, uint32_t uiToMs);

// Sentence text as the instrument frames it: "$" in front unless the text starts with "$" or "!", then
// the checksum and CR LF.
inline QByteArray Framed(const QByteArray& baText) {
    const bool bBang = baText.startsWith('!');
    char acLine[256];
    sim::FrameSentence(baText.mid(bBang || baText.startsWith('$') ? 1 : 0).constData(), acLine,
                       sizeof acLine);
    acLine[0] = bBang ? '!' : '$';
    return acLine;
}

// Feeds the framed text byte by byte, as the port reader does; the code left by the completing byte.
inline common::SentenceCode FeedSentence(BasicNMEA& framer, const QByteArray& baText) {
    common::SentenceCode uiCode = 0;
    for (const char c : Framed(baText)) {
        framer.ProcessByte(static_cast<uint8_t>(c));
        if (framer.uiLastCode != 0)
            uiCode = framer.uiLastCode;
    }
    return uiCode;
}

} // namespace facts
