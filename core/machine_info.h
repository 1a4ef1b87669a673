// Machine queries: adapter address, computer name, free space of a fixed drive.
#pragma once

#include <cstdint>
#include <string>

// Writes the first Ethernet adapter's address as 12 upper-case hex digits into
// `buffer` (at least 13 bytes, may be null). 0 when found; -1 and the buffer
// untouched otherwise.
int GetMacText(char* buffer);
// The computer name, or an empty text when it is longer than 13 characters.
std::wstring GetPcName();
// Free bytes of the fixed drive whose root starts with `letter` (upper case); 0 when
// there is none.
uint64_t GetDriveFreeBytes(char letter);
// Physical memory in use in percent (0..100); -1 when the system does not say.
int GetMemoryLoad();
