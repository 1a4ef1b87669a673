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

// True when `name` is one such component (a folder name such as a company's dirName).
bool IsPlainName(const std::string& name);
