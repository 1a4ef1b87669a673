// The backup service's replies; the first byte chooses the reader: the upload ticket,
// the backup list (with the JSON text of each "fileInfo"), the download address or the
// company names of the tax numbers.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "backup/backup_record.h"
#include "backup/backup_states.h"
#include "backup/cloud_service.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void SeedLocalRecords() {
    static bool done = [] {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (const char* sn : {"91110108MA01ABCD1X", "91440300MA5F8QRS3P"}) {
            BackupRecord r;
            r.taxSn = sn;
            localRecords.push_back(r);
        }
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::EnsureConfig();
    const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            BackupRecord record;
            UploadTicket ticket;
            // A slot is only granted with a bucket, a key and a backup's identifier.
            if (ReadUploadTicket(reply, record, &ticket) == 0 &&
                (ticket.bucketName.empty() || ticket.fileCloudPath.empty() || record.fileId <= 0))
                __builtin_trap();
            break;
        }
        case 1: {
            std::vector<BackupRecord> records;
            const int count = ReadBackupList(reply, &records);
            // Records without both times are dropped, never invented.
            if (records.size() > static_cast<size_t>(count < 0 ? 0 : count)) __builtin_trap();
            for (const BackupRecord& r : records)
                if (r.fileTime.empty() || r.bakTime.empty()) __builtin_trap();
            break;
        }
        case 2: {
            std::string url, md5;
            if (ReadDownload(reply, &url, &md5) == 0 && url.empty()) __builtin_trap();
            break;
        }
        default:
            SeedLocalRecords();
            if (!reply.empty()) ApplyEnterpriseNames(reply);
            break;
    }
    return 0;
}
