#include "app/backup_counts.h"

#include <cwchar>

RecordTotals CountRecords(const std::vector<BackupRecord>& records) {
    RecordTotals totals;
    for (const BackupRecord& r : records) {
        // A deleted backup keeps its place in the restore window until the next refresh.
        if (r.deleted) continue;
        ++totals.count;
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
