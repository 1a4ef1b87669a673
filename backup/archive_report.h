// Failure texts of the archive code: printed to the console as they stand and logged.
#pragma once

void ReportArchiveFault(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
