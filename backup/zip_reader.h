// Unpacks zip archives into a folder without letting an entry reach outside it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Unpacks `archivePath` below `targetDir` (created, one level, when missing). Entry names
// may use "/" or "\" as separator. Before anything is written every entry is checked: a
// name that would land outside the target, a link or device entry, an encrypted entry or
// one with an unknown method refuses the whole archive, as does more data than the free
// space. When `topDir` is given the first entry must be that folder and every entry must
// lie inside it. Files are written in blocks as they are inflated, each checked against
// its size and CRC and flushed to the disk; nothing is written through an existing link.
// File and folder times are set from the entries. Returns kArchiveOk or a negative
// ArchiveResult; on failure what this call created is removed again (files it replaced
// are gone, so unpack into an empty folder when that matters).
int UnzipTo(const std::string& archivePath, const std::string& targetDir,
            const std::string& topDir = std::string());

// Replaces the free-space query (bytes the program may still write below a folder);
// tests use it to stand in for a full disk. An empty function restores the real one.
void SetFreeSpaceProbe(std::function<bool(const std::string& dir, uint64_t* freeBytes)> probe);
