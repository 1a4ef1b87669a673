#include "app/auto_backup_plan.h"

#include <cstdio>

namespace {

constexpr long long kDay = 24 * 3600;
constexpr long long kChinaOffset = 8 * 3600;

}  // namespace

bool ParseDailyTime(const std::string& text, int* minuteOfDay) {
    int hour = -1, minute = -1;
    char end = 0;
    if (text.size() != 5 || sscanf(text.c_str(), "%2d:%2d%c", &hour, &minute, &end) != 2)
        return false;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return false;
    *minuteOfDay = hour * 60 + minute;
    return true;
}

std::string DailyTimeText(int minuteOfDay) {
    char text[16];
    snprintf(text, sizeof(text), "%02d:%02d", minuteOfDay / 60 % 24, minuteOfDay % 60);
    return text;
}

long long LatestDailySlot(long long now, int minuteOfDay) {
    const long long local = now + kChinaOffset;
    long long midnight = local - ((local % kDay) + kDay) % kDay;
    long long slot = midnight + minuteOfDay * 60LL;
    if (slot > local) slot -= kDay;
    return slot - kChinaOffset;
}

AutoBackupPlan::Step AutoBackupPlan::Next(long long now, const AutoBackupSettings& settings) {
    if (!settings.enabled) return Step::kWait;
    if (settings.lastRun >= LatestDailySlot(now, settings.minuteOfDay)) return Step::kWait;
    if (retryAt_ > now) return Step::kWait;
    if (firstTry_ > 0 && now - firstTry_ >= kRetryWindowSeconds) return Step::kGiveUp;
    return Step::kRun;
}

void AutoBackupPlan::Refused(long long now) {
    if (firstTry_ == 0) firstTry_ = now;
    retryAt_ = now + kRetrySeconds;
}

void AutoBackupPlan::Reset() {
    firstTry_ = 0;
    retryAt_ = 0;
}
