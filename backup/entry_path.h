// Archive entry names as relative paths that cannot leave the folder they unpack into.
#pragma once

#include <string>
#include <vector>

// Splits an entry name at "/" and "\" (archives written on Windows use either) into its
// components; a trailing separator marks a directory. False for any name that is not a
// plain relative path: absolute, with a drive letter or another ":", with "." or ".." or
// an empty component, with a control character, or with a component Windows would
// shorten (trailing "." or space).
bool SplitEntryName(const std::string& name, std::vector<std::string>* parts, bool* isDir);

// Entry names are UTF-8 with the language-encoding flag (bit 11) set, whichever system
// wrote them, so an archive unpacks to the same names on Windows and on Linux. Names
// without the flag come from the older Windows program (code page 936), unless they
// are valid UTF-8 (older archives of the Linux build).
constexpr unsigned kZipUtf8Flag = 0x800;
std::string EntryNameFromHost(const std::string& hostName);
std::string HostNameFromEntry(const std::string& entryName, unsigned long flag);

// True when `name` is one such component (a folder name such as a company's dirName).
bool IsPlainName(const std::string& name);
