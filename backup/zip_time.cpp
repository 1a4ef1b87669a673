#include "backup/zip_time.h"

#include "platform/file_tree.h"

uint32_t DosTimeFromUnix(int64_t unixTime) {
    platform::LocalTime t;
    if (!platform::UnixToLocal(unixTime, &t) || t.year < 1980) {
        t = platform::LocalTime{1980, 1, 1, 0, 0, 0, 0};
    } else if (t.year > 2107) {
        t = platform::LocalTime{2107, 12, 31, 23, 59, 58, 0};
    }
    return (static_cast<uint32_t>(t.year - 1980) << 25) | (static_cast<uint32_t>(t.month) << 21) |
           (static_cast<uint32_t>(t.day) << 16) | (static_cast<uint32_t>(t.hour) << 11) |
           (static_cast<uint32_t>(t.minute) << 5) | (static_cast<uint32_t>(t.second) / 2);
}

bool UnixFromDosTime(uint32_t dosTime, int64_t* unixTime) {
    platform::LocalTime t;
    t.year = static_cast<int>(dosTime >> 25) + 1980;
    t.month = static_cast<int>((dosTime >> 21) & 0x0F);
    t.day = static_cast<int>((dosTime >> 16) & 0x1F);
    t.hour = static_cast<int>((dosTime >> 11) & 0x1F);
    t.minute = static_cast<int>((dosTime >> 5) & 0x3F);
    t.second = static_cast<int>(dosTime & 0x1F) * 2;
    t.millisecond = 0;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return false;
    }
    return platform::LocalToUnix(t, unixTime);
}
