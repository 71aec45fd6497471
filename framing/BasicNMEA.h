#pragma once

// The byte-at-a-time sentence framer, which hands each sentence with a good checksum to the parser.

#include "common/ParserNMEA.h"

#include <cstdint>

// Cuts a byte stream into NMEA 0183-style sentences, checks their checksum and hands each good one to
// the parser. Fed one byte at a time; works in fixed buffers.
class BasicNMEA {
public:
    enum State : uint32_t {
        Idle,         // waiting for "$" or "!"; everything else is skipped
        Body,         // storing the identifier and fields, computing the checksum
        ChecksumHigh, // "*" seen, expecting the first checksum digit
        ChecksumLow,  // expecting the second checksum digit
    };

    // Start character and body stay below this many characters.
    static constexpr uint8_t kMaxLength = 120;
    // The identifier field and at most 23 more.
    static constexpr uint8_t kMaxFields = 24;

    BasicNMEA();

    // Inline for the bytes of a sentence's text and its separators, which are nearly all the bytes on the
    // line; the port reader calls this once a byte.
    virtual void ProcessByte(uint8_t byChar) {
        uiLastCode = 0;
        // Neither a start, the checksum marker nor a separator, and still below the size limit: stored.
        if (uiState == Body && byChar > ',' && byLength < kMaxLength - 1) {
            byChecksum ^= byChar;
            acSentence[byLength++] = static_cast<char>(byChar);
            return;
        }
        // A separator within both limits ends the field in place.
        if (uiState == Body && byChar == ',' && byLength < kMaxLength - 1 && byFieldCount < kMaxFields - 1) {
            byChecksum ^= byChar;
            abyFieldStart[++byFieldCount] = static_cast<uint8_t>(byLength + 1);
            acSentence[byLength++] = '\0';
            return;
        }
        ProcessOtherByte(byChar);
    }
    virtual void OnSentence();

    char acSentence[140];
    uint8_t byLength;
    uint8_t byChecksum;
    uint8_t byRxChecksum;
    uint8_t byFieldCount;
    uint8_t abyFieldStart[kMaxFields];
    uint32_t uiState;
    common::ParserNMEA parser;
    // SentenceCode left by the last byte: non-zero only right after the byte completing a good sentence.
    common::SentenceCode uiLastCode;

private:
    void ProcessOtherByte(uint8_t byChar);
    void StartSentence(uint8_t byStart);
};
