#include "backup/archive_report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/log.h"

void ReportArchiveFault(const char* format, ...) {
    char buf[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    fputs(buf, stdout);
    fflush(stdout);
    // The log's lines end in "\r\n" whatever the console text ends with.
    std::string line = buf;
    size_t start = line.find_first_not_of("\r\n");
    size_t end = line.find_last_not_of("\r\n");
    line = start == std::string::npos ? std::string() : line.substr(start, end - start + 1);
    WriteLog("%s\r\n", line.c_str());
}
