#pragma once

// The protocol fuzz target's harness: bytes through the framer and parser, every record read back.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace fuzz {

// Feeds arbitrary bytes through the framer and parser as the port reader does, twice: as they are, and
// with every checksum made right so that the bytes reach the sentence handlers. Checks after every byte
// and every sentence that nothing strays outside its place, reads every record afterwards and returns a
// digest of them. A broken rule is printed and aborts, which the fuzzer and the tests report.
uint64_t RunProtocolInput(const uint8_t* pbyData, size_t uiSize);

// Where a broken rule is reported; standard error until set. The fuzzer silences standard error, the
// parser's own messages being noise to it, and hands over a stream of its own.
void SetFailureStream(FILE* pStream);

} // namespace fuzz
