// Packs a company's data folder into a zip archive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Told the bytes of file data read so far while packing; returning false stops the
// packing with kArchiveStopped.
using PackProgress = std::function<bool(int64_t bytesRead)>;

// Packs `sourcePath` (host path of a folder, or of one file) into `archivePath`. A folder
// gives a first entry named after it with "/", then everything below it, each folder
// before its contents, names relative to the source's parent with "/" separators; files
// are deflated at level 6, entry times are last-write times (local, two-second
// resolution). Symbolic links and devices are left out and never followed.
// The archive is written under a temporary name and renamed into place only when
// complete; on failure nothing is left at either name. Returns kArchiveOk or a negative
// ArchiveResult; when a file or folder cannot be read its path goes to `failedPath`.
// `treeDigest` gets the fingerprint of what was packed (tree_digest.h), from the same
// listing, once the archive is complete.
int ZipDirectory(const std::string& archivePath, const std::string& sourcePath,
                 std::string* failedPath = nullptr, const PackProgress& progress = nullptr,
                 std::string* treeDigest = nullptr);

// For tests, where file modes do not stop reads: a path for which `refuse` returns true
// cannot be opened or listed while packing. An empty function ends the refusals.
void SetPackReadRefusal(std::function<bool(const std::string& path)> refuse);
