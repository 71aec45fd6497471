#pragma once

#include <cstdint>

// Lenient converters from a sentence field's text to a number. An empty or unreadable field gives the
// default; characters after the number are ignored. None of them uses the C library's conversions.
namespace common {

int32_t ParseInt(const char* pszText, int32_t iDefault);
float ParseFloat(const char* pszText);
uint32_t ParseHex(const char* pszText, bool bPrefix);
// Seconds of an "h:m:s" text, -1 when malformed.
int32_t ParseTime(const char* pszText);

} // namespace common
