// Kill points for the crash tests: a build configured with -DTALVORA_CRASH_HOOKS=ON ends
// its process with SIGKILL when the step named in TALVORA_CRASH_AT ("step:count")
// reaches that count. Without the option (every package build) CrashPoint is an empty
// inline function and no code reads the variable, so nothing outside a test build can be
// made to crash this way.
//
//   TALVORA_CRASH_AT=download:65536   killed once 64 KiB of a download are on the disk
//   TALVORA_CRASH_AT=move-in:1        killed at the second point of the move-in
#pragma once

#ifdef TALVORA_CRASH_HOOKS
// Steps and counts used: "download" (bytes written), "unpack" (bytes written),
// "set-aside" and "move-in" (points in order), "pack" (bytes read), "upload" (bytes sent),
// "confirm" (0: stored, not yet confirmed).
void CrashPoint(const char* step, long long count);
// Adds `bytes` to the step's running total in this process and checks that total.
void CrashAdvance(const char* step, long long bytes);
#else
inline void CrashPoint(const char*, long long) {}
inline void CrashAdvance(const char*, long long) {}
#endif
