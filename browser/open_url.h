// Opening web addresses in the desktop's default browser.
#pragma once

#include <functional>
#include <string>

// Hands an http or https address to the shell's "open" on a short-lived thread and
// returns at once; the shell's result is not reported. Anything else (a file, a
// program, another scheme) is refused with a log line, so a remote document can never
// make the shell start a program.
void OpenUrlInShell(const std::wstring& url);

// Test seam: called on the short-lived thread instead of the shell; nullptr restores
// the shell.
using ShellUrlOpener = std::function<void(const std::wstring& url)>;
void SetShellUrlOpener(ShellUrlOpener opener);
