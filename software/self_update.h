// The self-updater: reads the update list of the program's channel, downloads and
// verifies a newer installer, then opens it after a self-closing notice (a forced
// update) or when the user agrees.
//
// Where the lists live, from settings.json (defaults are the production hosts, HTTPS):
//   "updateBase"      the release base, default https://download.talvora.cn/pc/Talvora
//   "updateGrayBase"  the grey-release base used by "uat" environments; default: the
//                     release base with "grayRelease" before its last segment
// A plain-HTTP base is used only when settings.json names one.
#pragma once

#include <cstddef>
#include <string>

// The release base without a trailing "/".
std::string UpdateReleaseBase();
// The grey-release base without a trailing "/".
std::string UpdateGrayBase();
// `releaseBase` with the segment "grayRelease" inserted before its last segment.
std::string GrayBaseOf(const std::string& releaseBase);

// The whole check on the calling thread: list, download, notice or question, installer.
// With `manual` a check that finds nothing says "暂无新版本!". Checks run one at a
// time; a second waits for the first.
void upgradeThread(bool manual);

// Runs upgradeThread on a thread of its own.
void StartUpgradeCheck(bool manual);

// Ends running checks early (no installer is opened any more) and joins them, and the
// notices they showed. From the UI thread at shutdown; later checks may start again.
void StopUpgradeChecks();

// Threads of checks not yet joined: those still running, and finished ones until the
// next check starts.
size_t UpgradeCheckThreads();
