// Puts a company's backed-up data folder back in place of the local one.
#pragma once

#include <string>

// Restores `dataRoot`/`dirName` (host paths) from `archivePath`, whose first entry must be
// the folder `dirName` and whose every entry must lie inside it. The archive is unpacked
// into a staging folder beside the data ("<dirName>_<time>.tvrbak-staging") and flushed;
// only then is the old folder, when there is one, renamed to
// "<dirName>_<14-digit local time>.tvrbak" (with "_2", "_3", ... before ".tvrbak" when
// that name is taken) and the new folder moved in. A journal file beside it
// ("<set-aside name>-journal", on the disk before the rename, removed once the new
// folder is in place) marks the restore unfinished. On any failure the old data stays in
// (or is put back to) its place and the staging folder is removed. The archive is deleted
// either way. Returns kArchiveOk or a negative ArchiveResult; the set-aside path, if any,
// goes to `setAsidePath`.
int RestoreArchive(const std::string& archivePath, const std::string& dataRoot,
                   const std::string& dirName, std::string* setAsidePath = nullptr);

// Tidies what an interrupted restore left in `dataRoot` (of the company `dirName`, or of
// every company when empty): removes its staging folders and journals and, where a
// company's folder is missing, renames back the newest set-aside copy whose journal is
// still there. Any other set-aside data is kept as it is: a company folder the user
// removed stays removed (such a set-aside is logged once per process). Call it only
// while no restore of those companies runs. Returns how many leftovers were tidied.
int RemoveRestoreLeftovers(const std::string& dataRoot, const std::string& dirName = "");
