// Entry times of zip archives: local calendar time at two-second resolution.
#pragma once

#include <cstdint>

// The zip (MS-DOS) form of a moment; times outside 1980..2107 are clamped to those years.
uint32_t DosTimeFromUnix(int64_t unixTime);
// The moment of a zip time; false when the fields are out of range.
bool UnixFromDosTime(uint32_t dosTime, int64_t* unixTime);
