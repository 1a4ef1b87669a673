// The command line of talvora-cli: commands, options, exit statuses and the help text.
#pragma once

#include <string>
#include <vector>

enum CliExit {
    kExitOk = 0,            // nothing failed (skipped items are listed, not failures)
    kExitFailed = 1,        // some items (or the list they come from) failed
    kExitUsage = 2,         // bad usage
    kExitSignIn = 3,        // the sign-in failed
    kExitInterrupted = 130  // stopped by Ctrl-C (SIGINT) or SIGTERM
};

// Who wins when a company's data exists on both sides.
enum class Overwrite { kSkip, kCloud, kLocal, kAsk };

struct CliOptions {
    bool help = false;
    bool version = false;
    std::string command;  // "scan", "list", "backup", "restore", "delete", "prune", "verify"
    std::vector<std::string> args;  // tax numbers or backup identifiers
    bool all = false;
    bool cloud = false;
    bool json = false;
    bool latest = false;
    bool changed = false;  // backup: the companies in state 0 or 2 only
    bool dryRun = false;   // prune: list, delete nothing
    int keepLast = -1;     // prune, backup --changed: -1 when not given
    int keepDaily = 0;
    int keepMonthly = 0;
    std::string account;
    bool member = false;
    bool passwordStdin = false;
    Overwrite overwrite = Overwrite::kSkip;
};

// Reads the arguments. False with the reason in `error` for bad usage; `stdinTerminal`
// says whether questions could be asked at all.
bool ParseCliOptions(const std::vector<std::string>& argv, bool stdinTerminal, CliOptions* out,
                     std::string* error);

const char* CliUsage();
