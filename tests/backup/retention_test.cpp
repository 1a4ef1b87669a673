// The retention rule over a cloud list of several companies, editions and computers.
#include "backup/retention.h"

#include <gtest/gtest.h>

namespace {

BackupRecord Copy(long long id, const std::string& dir, const std::string& edition,
                  const std::string& bakTime, const std::string& pc = "PC-1") {
    BackupRecord r;
    r.fileId = id;
    r.dirName = dir;
    r.taxSn = dir.substr(0, dir.find('.'));
    r.typeStrEn = edition;
    r.bakTime = bakTime;
    r.PCName = pc;
    return r;
}

TEST(Retention, KeepsTheNewestPerGroupAndTheNewestOfEachDayAndMonth) {
    const std::vector<BackupRecord> cloud = {
        Copy(1, "A.0", "SKP", "2026-10-03 02:30:00"),
        Copy(2, "A.0", "SKP", "2026-11-20 02:30:00", "PC-2"),  // another computer's
        Copy(3, "A.0", "SKP", "2026-12-07 02:30:00"),
        Copy(4, "A.0", "SKP", "2026-12-08 02:30:00"),
        Copy(5, "A.0", "SKP", "2026-12-08 14:00:00"),
        Copy(6, "A.0", "UK", "2026-12-01 02:30:00"),  // same folder, other edition
        Copy(7, "B.0", "SKP", "2026-12-08 02:30:00"),
        Copy(8, "A.0", "SKP", "2026-12-08 14:00:00"),  // same time: the larger id is newer
    };
    RetentionRule last;
    last.keepLast = 1;
    EXPECT_EQ(RowsToPrune(cloud, last), (std::vector<int>{0, 1, 2, 3, 4}));
    // keep-last 0 still keeps each group's newest.
    last.keepLast = 0;
    EXPECT_EQ(RowsToPrune(cloud, last), (std::vector<int>{0, 1, 2, 3, 4}));

    RetentionRule daily;
    daily.keepLast = 1;
    daily.keepDaily = 2;  // 12-08 (id 8) and 12-07 (id 3)
    EXPECT_EQ(RowsToPrune(cloud, daily), (std::vector<int>{0, 1, 3, 4}));
    daily.keepMonthly = 3;  // December (8), November (2), October (1)
    EXPECT_EQ(RowsToPrune(cloud, daily), (std::vector<int>{3, 4}));

    RetentionRule many;
    many.keepLast = 10;
    EXPECT_TRUE(RowsToPrune(cloud, many).empty());
    // Only the groups of the tax numbers asked for; deleted records count for nothing.
    std::vector<BackupRecord> gone = cloud;
    gone[7].deleted = true;
    EXPECT_EQ(RowsToPrune(gone, last, {"B"}), std::vector<int>());
    EXPECT_EQ(RowsToPrune(gone, last, {"A"}), (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
