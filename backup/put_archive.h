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

// 0 when the object was stored, -1 otherwise (the log says why). Uploads run one at a
// time: a second caller waits until the running upload has finished.
int PutArchive(const std::string& archivePath, const UploadTicket& ticket,
               const PutProgress& progress = nullptr);
