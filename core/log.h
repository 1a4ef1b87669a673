// The program's log: logs/Talvora.log in the data folder (core/data_dir.h), one
// timestamped entry per call, written through and closed each time so the file is
// always complete.
#pragma once

#include <string>

// Builds the log path from the data folder, creates logs/ and readies the lock.
void InitLog();
// The same with another program directory (tests, tools).
void InitLogAt(const std::string& dir);

// printf-style; callers end their formats with "\r\n". Never fails towards the caller.
void WriteLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Lines gathered for one entry: a list call logs one line per record, and one entry
// (one timestamp, one write, one flush) keeps every line's text, in order, at the cost
// of one entry instead of thousands. Written by Write or when the object ends.
class LogEntry {
public:
    LogEntry() = default;
    LogEntry(const LogEntry&) = delete;
    LogEntry& operator=(const LogEntry&) = delete;
    ~LogEntry() { Write(); }

    // printf-style, as WriteLog; the line end is the caller's.
    void Add(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Writes what was added as one entry (nothing when nothing was) and starts afresh.
    void Write();

private:
    std::string text_;
};

// Path of the current log file and of the file that receives it when it is full.
std::string LogFilePath();
std::string LogRollOverPath();

constexpr long long kLogSizeLimit = 1048576;
