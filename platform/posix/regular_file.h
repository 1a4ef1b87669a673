// Opening files at paths someone else may have prepared (a Wine prefix, a shared lock in
// /tmp): a FIFO or a device planted there must neither block the opener nor be used.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// Opens `path` with `flags` (plus O_CLOEXEC and O_NOCTTY) when it is, or with O_CREAT
// becomes, a regular file. Nothing else at the path is opened for long: a FIFO or a device
// is opened without waiting (O_NONBLOCK) and closed again. With O_NOFOLLOW a symbolic
// link counts as something else. Returns the descriptor in blocking mode, or -1 with
// errno set (EISDIR for a directory, ELOOP for a link with O_NOFOLLOW, EINVAL for any
// other kind of file).
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0);

}  // namespace platform
