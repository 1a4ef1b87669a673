// Which cloud backups a retention rule lets go. Backups are grouped by company folder
// (dirName) and edition, whichever computer made them, and ordered newest first by
// backup time (then fileId). A rule keeps the `keepLast` newest of a group, the newest
// of each of the `keepDaily` latest days and of each of the `keepMonthly` latest months
// that have backups (days and months of the backup time, China time as the service
// gives it). A group's newest copy always stays.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "backup/backup_record.h"

struct RetentionRule {
    int keepLast = 0;
    int keepDaily = 0;
    int keepMonthly = 0;
};

// Rows of `cloud` (deleted records left out) that the rule does not keep, in list order.
// With `taxSns` not empty, only groups of those tax numbers are looked at.
std::vector<int> RowsToPrune(const std::vector<BackupRecord>& cloud, const RetentionRule& rule,
                             const std::set<std::string>& taxSns = {});
