// The process-wide stop: set once the program is ending, so that every request in
// flight ends at its next progress call (about once a second even on a silent
// connection), no new request goes out and every stoppable worker ends after its
// current step. Thread-safe.
#pragma once

// Set by start-up's shutdown before any worker is joined. A test that shut down clears
// it again for the next case.
void SetShuttingDown(bool on);
bool ShuttingDown();
