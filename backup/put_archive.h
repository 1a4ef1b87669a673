// Upload of one backup archive to object storage with the temporary credentials of an
// UploadTicket. The storage endpoint comes from settings.json beside the program:
//
//   "obsEndpoint":  "scheme://host[:port]"   (default https://obs.talvora.cn)
//   "obsPathStyle": true puts the bucket in the path (host/bucket/key) instead of the
//                   host name (bucket.host/key, the default)
//   "obsRegion":    signing region (default cn-east-3)
//
// obs_initialize must have run (program start-up).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "backup/upload_ticket.h"

// Told the bytes handed to the store so far and the archive's size; returning false
// abandons the upload.
using PutProgress = std::function<bool(uint64_t sent, uint64_t total)>;

// The digests an upload is signed with; md5Hex is also the backup's fileMD5.
struct ArchiveDigests {
    std::string md5Hex;
    std::string md5Base64;
    std::string sha256Hex;
    unsigned long long size = 0;
};

// Reads the archive for both digests (on two threads); false when it cannot be read.
bool DigestArchive(const std::string& archivePath, ArchiveDigests* digests);

// 0 when the object was stored, -1 otherwise (the log says why). `digests`, when the
// caller has them, spares reading the archive again; the store refuses a body that does
// not match them. Uploads run one at a time: a second caller waits until the running
// upload has finished.
int PutArchive(const std::string& archivePath, const UploadTicket& ticket,
               const PutProgress& progress = nullptr, const ArchiveDigests* digests = nullptr);
