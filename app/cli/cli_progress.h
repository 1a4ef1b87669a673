// What talvora-cli prints while jobs run: per item its stage, bytes, speed and time
// left (one line redrawn on a terminal, plain lines otherwise), each item's outcome and
// one summary line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "backup/job_report.h"

// "512 B", "48.0 KiB", "2.31 MiB", ...
std::string ByteText(int64_t bytes);

class ProgressPrinter {
public:
    ProgressPrinter(FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    // The items of the coming job in their order, each with the label that names it.
    void Begin(const std::vector<int>& rows, const std::map<int, std::string>& labels);
    void OnProgress(const ItemProgress& p);
    // `state` is the row's job state text once the item ended.
    void OnFinished(const ItemResult& r, const std::string& state);
    // "<verb>: 6 done, 1 skipped, 1 failed" (with what was not run and a stop).
    void Summary(const char* verb, const JobReport& report);

private:
    std::string Head(int row) const;
    void ClearLine();

    FILE* out_;
    bool terminal_;
    std::vector<int> rows_;
    std::map<int, std::string> labels_;
    int stage_ = 0;
    int stageRow_ = -1;
    std::chrono::steady_clock::time_point stageStart_;
    bool lineOpen_ = false;
};
