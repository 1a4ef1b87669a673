// Files and folders that the program writes for its user alone (the log, `config`,
// qr.bmp, working folders, downloads): files are created 0600 and folders 0700, and
// nothing is ever written through a symbolic link planted at their names.
#pragma once

#include <string>

namespace platform {

// Creates one folder level for this user only. An existing folder counts as success
// unless it is a symbolic link.
bool CreatePrivateDir(const std::string& path);

// Replaces `path` whole with `data`: a new temporary file of a unique name in the same
// folder, written, pushed to the disk, then renamed over `path`, so a crash leaves the
// old file or the new one, never a mixture. An existing file ends up private too.
// False (and no temporary file left) when any step fails.
bool WriteFileAtomic(const std::string& path, const std::string& data);

// Makes an existing regular file of this user private (0600); on Windows the folder's
// access list already decides. False when it cannot.
bool MakeFilePrivate(const std::string& path);

#ifndef _WIN32
// Opens (creating it private when missing) a regular file for writing without
// following a symbolic link at its name; truncates when asked. A descriptor the caller
// closes, or -1.
int OpenPrivateFileForWrite(const std::string& path, bool truncate);
#endif

}  // namespace platform
