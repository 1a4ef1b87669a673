// Machine queries: adapter address, computer name, free space of a fixed drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system_info.h"

// Writes the address of the first device-backed Ethernet adapter of `adapters` as 12
// upper-case hex digits into `buffer` (at least 13 bytes, may be null). 0 when found;
// -1 and the buffer untouched otherwise: a machine with only virtual adapters (bridges,
// container links) has no address that lasts, and the caller's stand-in is steadier.
int MacTextOf(const std::vector<platform::NetAdapter>& adapters, char* buffer);
// MacTextOf over this machine's adapters.
int GetMacText(char* buffer);
// The computer name in at most 13 characters: on Windows empty when it is longer, on
// Linux the host name's first label cut to 13.
std::wstring GetPcName();
// Free bytes of the fixed drive whose root starts with `letter` (upper case); 0 when
// there is none.
uint64_t GetDriveFreeBytes(char letter);
// Physical memory in use in percent (0..100); -1 when the system does not say.
int GetMemoryLoad();
