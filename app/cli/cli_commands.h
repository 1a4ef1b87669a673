// The commands of talvora-cli, run once signed in.
#pragma once

#include <atomic>

#include "app/cli/cli_options.h"

// Runs the command of `options`; `stop` (set by Ctrl-C) ends the jobs after their
// running step. Returns the exit status.
int RunCliCommand(const CliOptions& options, const std::atomic<bool>& stop);
