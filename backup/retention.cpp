#include "backup/retention.h"

#include <algorithm>
#include <map>
#include <utility>

#include "backup/backup_states.h"

namespace {

// Keeps the newest backup of each of the `count` latest periods (the first `length`
// characters of the backup time).
void KeepPerPeriod(const std::vector<int>& newestFirst, const std::vector<BackupRecord>& cloud,
                   size_t length, int count, std::set<int>* keep) {
    std::set<std::string> periods;
    for (int row : newestFirst) {
        if (static_cast<int>(periods.size()) >= count) return;
        const std::string period = cloud[static_cast<size_t>(row)].bakTime.substr(0, length);
        if (periods.insert(period).second) keep->insert(row);
    }
}

}  // namespace

std::vector<int> RowsToPrune(const std::vector<BackupRecord>& cloud, const RetentionRule& rule,
                             const std::set<std::string>& taxSns) {
    std::map<std::pair<std::string, std::string>, std::vector<int>> groups;
    for (size_t i = 0; i < cloud.size(); ++i) {
        const BackupRecord& r = cloud[i];
        if (r.deleted || (!taxSns.empty() && !taxSns.count(r.taxSn))) continue;
        groups[{r.dirName, r.typeStrEn}].push_back(static_cast<int>(i));
    }
    std::set<int> prune;
    for (auto& group : groups) {
        std::vector<int>& rows = group.second;
        std::sort(rows.begin(), rows.end(), [&cloud](int a, int b) {
            return NewerBackup(cloud[static_cast<size_t>(a)], cloud[static_cast<size_t>(b)]);
        });
        std::set<int> keep;
        keep.insert(rows.front());
        for (size_t i = 0; i < rows.size() && static_cast<int>(i) < rule.keepLast; ++i)
            keep.insert(rows[i]);
        KeepPerPeriod(rows, cloud, 10, rule.keepDaily, &keep);   // YYYY-MM-DD
        KeepPerPeriod(rows, cloud, 7, rule.keepMonthly, &keep);  // YYYY-MM
        for (int row : rows)
            if (!keep.count(row)) prune.insert(row);
    }
    return std::vector<int>(prune.begin(), prune.end());
}
