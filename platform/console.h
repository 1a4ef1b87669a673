// The terminal of a command-line program: whether its streams are one, typing without
// echo, and the stop request (Ctrl-C, Ctrl-Break, termination).
#pragma once

#include <cstddef>

bool StdinIsTerminal();
bool StdoutIsTerminal();

// Switches the echo of typed characters on standard input; false when it is no terminal.
bool SetStdinEcho(bool on);

// `onStop` runs on a stop request: inside a signal handler or on the console's control
// thread, so it may only set lock-free flags and call WriteStderrRaw. The process goes
// on; the program decides when to end.
void CatchConsoleStop(void (*onStop)());

// Writes to standard error without buffering or locks (usable inside `onStop`).
void WriteStderrRaw(const char* text, size_t size);
