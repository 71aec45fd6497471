#pragma once

// The device fuzz target's harness: the real window on a real port under arbitrary replies.

#include "framing/BasicNMEA.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class MainWindow;

// The window's device side under arbitrary replies of the instrument. One real window on a real serial
// port, opened on a pseudo-terminal whose other end plays the instrument; per input the window is brought
// back to a freshly connected state, set up for a listing, a download or an update, and then fed the
// input's bytes in chunks through the port, with the user's buttons and the poll's ticks in between.
// Everything the window sends is read back and checked, and so are its rows, its download and its working
// directory, a temporary one entered for each input. A broken rule is printed and aborts, which the fuzzer
// reports.
//
// Input: a setup byte, a parameter byte, then up to 32 steps of an action byte, a length byte and that many
// bytes for the line, 2048 of them at most.
class DeviceHarness {
public:
    // Makes the application, the terminal, the working directory and the update files, connects the
    // window, and waits until a clock can pass for one started long ago. Prints why and returns false when
    // something is missing.
    bool SetUp();
    void Run(const uint8_t* pbyData, size_t uiSize);

    // Where a broken rule is reported; standard error until set.
    static void SetFailureStream(FILE* pStream);

private:
    // One answer of the window to the instrument's request: file bytes from an offset, maybe a CRC.
    struct Reply {
        uint32_t uiOffset;
        uint32_t uiLength;
        bool bCrc;
    };

    void Reset(uint8_t bySetup);
    void SetUpScenario(uint8_t bySetup, uint8_t byParam);
    void Act(uint8_t byAction);
    void Deliver(const uint8_t* pbyData, size_t uiSize);
    void TakeSentences(const std::string& sText);
    void ExpectRepliesTo(const QByteArray& baBytes);
    void WriteToLine(const uint8_t* pbyData, size_t uiSize);
    void RepairChecksums(uint8_t* pbyData, size_t uiSize);

    void ReadLine(bool bAll);
    void CheckOutput(bool bAll);
    size_t CheckCommand(size_t uiAt);
    bool CheckReply(size_t& uiAt);

    void CheckWindow() const;
    void CheckRowsKept(int iFrom, int iTo, const uint8_t* pbyBefore) const;
    void CheckWorkDir(const char* pszSaved) const;
    void CheckSavedFlight(const char* pszName) const;
    bool IsCopyOfTaken(const QByteArray& baPart) const;

    MainWindow* pWindow = nullptr;
    int iMaster = -1;
    // Held open for the life of the harness: the terminal never sees its far end closed when the window
    // closes the port, and the end-of-input mark goes out through it behind the window's own bytes.
    int iSlave = -1;
    // Started long before any input: handed to the window's clocks whose time a tick finds passed.
    QElapsedTimer agedClock;

    // Per input.
    uint32_t uiUpdateSize = 0;
    bool bRepair = true;
    bool bInBody = false;
    uint8_t byChecksum = 0;
    int iChecksumDigits = 0;
    QByteArray baExpectedFlight;
    std::vector<Reply> aReplies;
    size_t uiNextReply = 0;
    std::string sOutput;
    BasicNMEA shadow;
};
