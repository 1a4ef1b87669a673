// The running processes of this machine, as far as this user may see them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Identifiers of the running processes, at most `capacity` of them. False when the
// system refused the listing.
bool ListProcessIds(size_t capacity, std::vector<uint32_t>* pids);

// Base name of the process's main module in the system code page, at most
// `capacity` - 1 bytes ("skfpShell.exe"). For a program running under Wine this is
// the Windows executable's name (the last component of its command line's first
// word, either separator), for a native process its executable's name. False when
// the process cannot be opened or read (gone, another user's, a system process).
bool ProcessBaseName(uint32_t pid, size_t capacity, std::string* name);

}  // namespace platform
