#pragma once

// What the device harness's sources share: the line's limits, the update image the window serves, what the
// instrument's end has read, and the report of a broken rule.
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace deviceharness {

// Each step costs a few turns of the terminal, and every update request half a kilobyte of answer:
// inputs longer than this add nothing but time.
inline constexpr int kMaxSteps = 32;
inline constexpr size_t kMaxLineBytes = 2048;
inline constexpr int kRows = 50;
inline constexpr uint32_t kPartSize = 128;
inline constexpr uint32_t kHeaderSize = 128;
inline constexpr uint32_t kChunkSize = 512;
// Far beyond the terminal's slowest turn: a machine busy writing to its disk has been seen to hold the
// line for seconds. Within the fuzzer's time-out of 30 s, so that a report says what the line did.
inline constexpr int kLineWaitMs = 20000;
// Turns of the wait that yield before it sleeps.
inline constexpr unsigned kSpinTurns = 64;
// Older than every time-out of the window, the longest being 3000 ms for a logbook row or a part.
inline constexpr qint64 kAgedMs = 3100;

// The update files: each the beginning of one image, which no byte of is "$" or NUL.
inline constexpr uint32_t kUpdateImageSize = 2000;
extern uint8_t abyUpdateImage[kUpdateImageSize];
// Follows the window's bytes at the end of an input: no command ends in NUL and no update byte is NUL.
inline constexpr char kMark[] = {'\0', '\0', 'E', 'N', 'D', '\0', '\0'};

// The directory the window works in while it takes an input.
extern std::string sWorkDir;
// What the instrument's end of the line has read and the harness has not looked at yet.
extern std::mutex arrivedMutex;
extern std::string sArrived;

// Prints the broken rule and aborts, which the fuzzer reports.
[[noreturn]] void Fail(const char* pszFormat, ...);
// Gives the terminal's worker the processor until bDone holds; false once kLineWaitMs have passed.
bool SpinUntil(const std::function<bool()>& bDone);
// The commands the window may send, every row and flight number inside the table.
bool KnownCommand(const char* pc);

} // namespace deviceharness
