// The backup page's totals: how many records a list holds and their size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup_record.h"

struct RecordTotals {
    int count = 0;
    int64_t bytes = 0;  // sum of the records' sizes; a company may hold several GiB
};

RecordTotals CountRecords(const std::vector<BackupRecord>& records);

// "<caption>\r\n%d份  %.3fMB".
std::wstring RecordTotalsText(const std::wstring& caption, const RecordTotals& totals);
