#include "app/backup_counts.h"

#include <cwchar>

RecordTotals CountRecords(const std::vector<BackupRecord>& records) {
    RecordTotals totals;
    totals.count = static_cast<int>(records.size());
    for (const BackupRecord& r : records) {
        if (r.fileSize > 0) totals.bytes += r.fileSize;
    }
    return totals;
}

std::wstring RecordTotalsText(const std::wstring& caption, const RecordTotals& totals) {
    wchar_t line[64];
    swprintf(line, sizeof(line) / sizeof(line[0]), L"\r\n%d份  %.3fMB", totals.count,
             static_cast<double>(totals.bytes) / 1048576.0);
    return caption + line;
}
