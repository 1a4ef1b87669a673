#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/data_dir.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/private_files.h"

namespace {

std::mutex g_logLock;
std::string g_logPath;
std::string g_rollPath;

std::string FormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int len = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (len <= 0) return std::string();
    std::vector<char> buf(static_cast<size_t>(len) + 1);
    vsnprintf(buf.data(), buf.size(), format, args);
    return std::string(buf.data(), static_cast<size_t>(len));
}

}  // namespace

void InitLogAt(const std::string& dir) {
    std::lock_guard<std::mutex> guard(g_logLock);
    std::string logDir = dir + platform::kPathSep + "logs";
    platform::CreatePrivateDir(logDir);
    g_logPath = logDir + platform::kPathSep + "Talvora.log";
    g_rollPath = logDir + platform::kPathSep + "Talvora.old.log";
    // Logs written by earlier versions were readable by everyone.
    platform::MakeFilePrivate(g_logPath);
    platform::MakeFilePrivate(g_rollPath);
}

void InitLog() {
    InitLogAt(DataDir());
}

std::string LogFilePath() {
    std::lock_guard<std::mutex> guard(g_logLock);
    return g_logPath;
}

std::string LogRollOverPath() {
    std::lock_guard<std::mutex> guard(g_logLock);
    return g_rollPath;
}

namespace {

// The formatted message as one entry: open, roll over when full, write, flush, close.
void WriteEntry(const std::string& message) {
    std::lock_guard<std::mutex> guard(g_logLock);
    if (g_logPath.empty()) return;
    platform::SharedFile file;
    if (!file.OpenAlways(g_logPath)) return;
    int64_t size = file.Size();
    if (size < 0 || size < kLogSizeLimit) {
        file.SeekEnd();
    } else {
        file.Close();
        platform::MoveFileReplace(g_logPath, g_rollPath);
        if (!file.OpenAlways(g_logPath)) return;
        // When the move failed this is the old file again: append to it.
        file.SeekEnd();
    }
    platform::LocalTime t = platform::NowLocal();
    char prefix[64];
    int n = snprintf(prefix, sizeof(prefix), "[%04d.%02d.%02d %02d:%02d:%02d.%03d]", t.year,
                     t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
    // One write per entry, so another process appending to the same log cannot split it.
    std::string entry(prefix, static_cast<size_t>(n));
    entry += message;
    file.Write(entry.data(), entry.size());
    file.Flush();
}

}  // namespace

void WriteLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FormatV(format, args);
    va_end(args);
    WriteEntry(message);
}

void LogEntry::Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    text_ += FormatV(format, args);
    va_end(args);
}

void LogEntry::Write() {
    if (text_.empty()) return;
    WriteEntry(text_);
    text_.clear();
}
