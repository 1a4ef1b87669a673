// Puts a company's backed-up data folder back in place of the local one.
#pragma once

#include <string>

// Restores `dataRoot`/`dirName` (host paths) from `archivePath`, whose first entry must be
// the folder `dirName` and whose every entry must lie inside it. The archive is unpacked
// into a staging folder beside the data ("<dirName>_<time>.tvrbak-staging") and flushed;
// only then is the old folder, when there is one, renamed to
// "<dirName>_<14-digit local time>.tvrbak" (with "_2", "_3", ... before ".tvrbak" when
// that name is taken) and the new folder moved in. On any failure the old data stays in
// (or is put back to) its place and the staging folder is removed. The archive is deleted
// either way. Returns kArchiveOk or a negative ArchiveResult; the set-aside path, if any,
// goes to `setAsidePath`.
int RestoreArchive(const std::string& archivePath, const std::string& dataRoot,
                   const std::string& dirName, std::string* setAsidePath = nullptr);

// Tidies what an interrupted restore left in `dataRoot` (of the company `dirName`, or of
// every company when empty): removes its staging folders and, where a company's folder
// is missing, renames its newest set-aside copy back (set-aside data beside an existing
// folder is kept). Call it only while no restore of those companies runs. Returns how
// many leftovers were tidied.
int RemoveRestoreLeftovers(const std::string& dataRoot, const std::string& dirName = "");
