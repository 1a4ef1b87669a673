// Verification of cloud backups: proof that a backup restores, without restoring it.
// A row is an index into cloudRecords; the jobs run on the calling thread.
#pragma once

#include <string>
#include <vector>

#include "backup/job_report.h"

// The working folder's folders of running verifications: this prefix and the fileId.
constexpr char kVerifyFolderPrefix[] = "verify-";

// Downloads the row's archive into a folder of its own in the working folder, checks
// its MD5, unpacks it into a scratch folder there with every check a restore makes (names,
// sizes, CRC, free space) and checks the unpacked tree against the backup's
// fingerprint. When the local data of the company has the backup's fingerprint, the
// unpacked tree is also compared with it byte for byte (under the folder's lock). No
// local data changes and nothing is left behind. A passed backup is logged ("verified
// backup %lld\r\n") and recorded (verified_backups.h). opState ends 2, 8 (MD5
// mismatch) or 7.
ItemResult VerifyItem(int row, const JobHooks& hooks);

// VerifyItem for each row, one after another.
JobReport RunBatchVerify(const std::vector<int>& rows, const JobHooks& hooks);

// Compares two folder trees: the same names, kinds, sizes and bytes (links and devices
// in `local` are left out, as packing leaves them out). False with the first
// difference in `difference`.
bool SameTree(const std::string& unpacked, const std::string& local, std::string* difference);
