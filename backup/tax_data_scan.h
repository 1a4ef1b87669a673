// The scan of this machine's tax data: one record per company data directory of each
// installed edition, appended to localRecords.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Append the records of one edition; return the number of marker files found (before
// any record was dropped). The lists are not cleared.
int ScanJsp();
int ScanSkp();
int ScanUk();

// Windows-form paths of the files below `root` (a Windows path) whose names end in
// `suffix` (byte comparison). Symbolic links are never followed, so a link loop or a
// link out of the tree adds nothing.
void FindFilesBySuffix(const std::string& root, const std::string& suffix,
                       std::vector<std::string>* out);

// Last-write time of the directory as "YYYY-MM-DD hh:mm:ss" in UTC+8 whatever the
// machine's zone; empty when it cannot be read or lies in the year 3000 or later.
std::string GetDirTime(const std::string& path);

// A time in seconds since 1970 as "YYYY-MM-DD hh:mm:ss" in UTC+8; empty from the year
// 3000 on.
std::string ChinaTimeText(int64_t seconds);

// Bytes in the files of a directory tree (64-bit; links are not followed or counted).
int64_t GetDirSize(const std::string& path);

// The data root of an edition ("JSP", "SKP", "UK") in Windows form, found once per
// process from the uninstall registry; empty when the edition is not installed.
std::string EditionDataRoot(const std::string& typeStrEn);
// Forgets the cached roots (tests that install editions one after another).
void ResetEditionDataRoots();
