// When the daily automatic backup runs: at the chosen time (China time, like the data
// times), or at the next start when the machine was off then; while the running-program
// guard refuses, again every 10 minutes, for two hours from the first try.
#pragma once

#include <string>

struct AutoBackupSettings {
    bool enabled = false;
    int minuteOfDay = 150;  // 02:30
    int keep = 0;           // copies per company to keep; 0 keeps all
    long long lastRun = 0;  // seconds since 1970 when the last run ended (or gave up)
};

// "HH:MM" and back; false for anything else.
bool ParseDailyTime(const std::string& text, int* minuteOfDay);
std::string DailyTimeText(int minuteOfDay);

// The latest moment at or before `now` whose China time is `minuteOfDay`.
long long LatestDailySlot(long long now, int minuteOfDay);

class AutoBackupPlan {
public:
    static constexpr long long kRetrySeconds = 10 * 60;
    static constexpr long long kRetryWindowSeconds = 2 * 3600;

    enum class Step { kWait, kRun, kGiveUp };
    // What to do at `now`: run when the latest slot has had no run; give up when the
    // guard has refused for the whole retry window.
    Step Next(long long now, const AutoBackupSettings& settings);
    // The guard (or a job of the user's) kept the run from starting at `now`.
    void Refused(long long now);
    // The run ended or was given up.
    void Reset();

private:
    long long firstTry_ = 0;
    long long retryAt_ = 0;
};
