#include "app/cli/cli_progress.h"

#include <algorithm>

std::string ByteText(int64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    snprintf(text, sizeof(text), value < 10 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

void ProgressPrinter::Begin(const std::vector<int>& rows,
                            const std::map<int, std::string>& labels) {
    rows_ = rows;
    labels_ = labels;
    stage_ = 0;
    stageRow_ = -1;
}

std::string ProgressPrinter::Head(int row) const {
    auto at = std::find(rows_.begin(), rows_.end(), row);
    auto label = labels_.find(row);
    return "[" + std::to_string(at == rows_.end() ? 0 : (at - rows_.begin()) + 1) + "/" +
           std::to_string(rows_.size()) + "] " +
           (label == labels_.end() ? "#" + std::to_string(row) : label->second);
}

void ProgressPrinter::ClearLine() {
    if (!lineOpen_) return;
    fputs("\r\x1b[K", out_);
    lineOpen_ = false;
}

void ProgressPrinter::OnProgress(const ItemProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    const bool newStage = p.stage != stage_ || p.row != stageRow_;
    if (newStage) {
        stage_ = p.stage;
        stageRow_ = p.row;
        stageStart_ = now;
    }
    std::string line = Head(p.row) + "  " + JobStageName(p.stage);
    if (p.stage == kStageWaiting) line += " (another job works on this folder or uploads)";
    if (!terminal_) {
        // Plain output: one line as each stage starts.
        if (!newStage) return;
        if (p.totalBytes > 0) line += " " + ByteText(p.totalBytes);
        fprintf(out_, "%s\n", line.c_str());
        fflush(out_);
        return;
    }
    if (p.stage != kStageWaiting && p.stage != kStageUnpack) {
        char part[160];
        snprintf(part, sizeof(part), "  %3d%%  %s", p.percent, ByteText(p.doneBytes).c_str());
        line += part;
        if (p.totalBytes > 0) line += " / " + ByteText(p.totalBytes);
        const double seconds = std::chrono::duration<double>(now - stageStart_).count();
        if (seconds >= 0.5 && p.doneBytes > 0) {
            const double speed = p.doneBytes / seconds;
            line += "  " + ByteText(static_cast<int64_t>(speed)) + "/s";
            if (p.totalBytes > p.doneBytes) {
                const long left = static_cast<long>((p.totalBytes - p.doneBytes) / speed);
                snprintf(part, sizeof(part), "  %ld:%02ld left", left / 60, left % 60);
                line += part;
            }
        }
    }
    fprintf(out_, "\r%s\x1b[K", line.c_str());
    fflush(out_);
    lineOpen_ = true;
}

void ProgressPrinter::OnFinished(const ItemResult& r, const std::string& state) {
    ClearLine();
    std::string line = Head(r.row) + "  ";
    switch (r.outcome) {
        case ItemOutcome::kDone:
            line += r.note.empty() ? "done" : "done: " + r.note;
            break;
        case ItemOutcome::kSkipped:
            line += "skipped: " + r.note;
            break;
        case ItemOutcome::kFailed:
            line += "failed: " + r.note;
            break;
        case ItemOutcome::kStopped:
            line += "stopped";
            break;
        case ItemOutcome::kNotRun:
            line += "not run: " + r.note;
            break;
    }
    if (!state.empty() && r.outcome == ItemOutcome::kFailed) line += " [" + state + "]";
    fprintf(out_, "%s\n", line.c_str());
    fflush(out_);
    stage_ = 0;
    stageRow_ = -1;
}

void ProgressPrinter::Summary(const char* verb, const JobReport& report) {
    ClearLine();
    fprintf(out_, "%s: %d done, %d skipped, %d failed", verb, report.Count(ItemOutcome::kDone),
            report.Count(ItemOutcome::kSkipped), report.Count(ItemOutcome::kFailed));
    const int notRun = report.Count(ItemOutcome::kNotRun);
    const int stopped = report.Count(ItemOutcome::kStopped);
    if (notRun > 0) fprintf(out_, ", %d not run", notRun);
    if (stopped > 0) fprintf(out_, ", %d stopped", stopped);
    if (report.refused) fputs(" (refused: the invoicing software is running)", out_);
    if (report.stopped) fputs(" (interrupted)", out_);
    fputc('\n', out_);
    fflush(out_);
}
