// Local servers that tests start as child processes: they print "listening HOST:PORT"
// as their first line and stop on SIGTERM.
#pragma once

namespace testsupport {

// The port of the child's first line "listening 127.0.0.1:PORT" read from `fd`, waiting
// at most `waitMs`; 0 when no such line came.
int ReadListeningPort(int fd, int waitMs);

// Asks the child to stop, waits up to five seconds, then kills it; sets *pid to -1.
void StopChild(int* pid);

}  // namespace testsupport
