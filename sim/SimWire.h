#pragma once

// The simulated instrument's own sentence reading and writing, apart from the tool's framer.

#include <cstddef>
#include <cstdint>

// The simulated instrument's own wire code. It is written apart from the tool's framer and parser on
// purpose: a misreading shared by both ends of the line would otherwise pass every test unnoticed.
namespace sim {

// Longest body the instrument accepts between "$" and "*", as any NMEA talker.
constexpr size_t kMaxBody = 118;
// The identifier and at most 23 more fields.
constexpr int kMaxFields = 24;

// Exclusive-or of the body bytes.
uint8_t XorChecksum(const char* pcBody, size_t uiLen);

// Writes "$", the body, "*", two upper-case hexadecimal digits and CR LF into pcOut, terminated.
// Returns the length written, or 0 when the sentence does not fit into uiOutSize bytes.
size_t FrameSentence(const char* pcBody, char* pcOut, size_t uiOutSize);

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection), computed bit by bit so that it shares
// nothing with the tool's table.
uint16_t Crc16Xmodem(const uint8_t* pbyData, size_t uiLen);

// Cuts the tool's byte stream into sentence bodies. Fed one byte at a time, fixed buffer.
class SentenceReader {
public:
    enum Result {
        None,        // nothing completed with this byte
        Sentence,    // a body with a good checksum is in Body()
        BadSentence, // a sentence was dropped: wrong checksum, bad digit or too long
    };

    Result Feed(uint8_t byChar);
    void Reset() { eState = Idle; }
    const char* Body() const { return acBody; }

private:
    enum State {
        Idle,    // skipping everything up to "$"
        InBody,  // collecting the body and its checksum
        HighHex, // "*" seen, waiting for the first digit
        LowHex,  // waiting for the second digit
    };

    State eState = Idle;
    char acBody[kMaxBody + 1] = {};
    size_t uiLength = 0;
    uint8_t byChecksum = 0;
    int iReceived = 0;
};

// A body split at its commas, each field a terminated text in a private copy.
class SentenceFields {
public:
    explicit SentenceFields(const char* pcBody);
    int Count() const { return iCount; }
    // The text of field iIndex; the empty text for a field the sentence does not have.
    const char* At(int iIndex) const;

private:
    char acText[kMaxBody + 1];
    const char* apcField[kMaxFields];
    int iCount = 0;
};

// A whole decimal integer with an optional sign; false for empty text, stray characters or more than
// 15 digits.
bool ParseInteger(const char* pcText, int64_t* piValue);

// A decimal number such as "2.35" in tenths, rounded half away from zero ("2.35" gives 24); the same
// refusals as ParseInteger.
bool ParseTenths(const char* pcText, int64_t* piTenths);

} // namespace sim
