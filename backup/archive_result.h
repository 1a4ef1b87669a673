// Results of packing and unpacking archives: 0 success, a negative value says why not.
#pragma once

enum ArchiveResult {
    kArchiveOk = 0,
    kArchiveMissingSource = -1,    // the folder or file to pack does not exist
    kArchiveCreateFailed = -2,     // the archive could not be created or written
    kArchiveReadFailed = -3,       // a file or folder to pack could not be read
    kArchiveOpenFailed = -4,       // the archive is missing or is not a zip archive
    kArchiveUnsafeEntry = -5,      // an entry would land outside its folder or is no plain file
    kArchiveDamaged = -6,          // an entry fails its CRC, its size or cannot be inflated
    kArchiveNoSpace = -7,          // the unpacked data would not fit on the disk
    kArchiveWriteFailed = -8,      // the unpacked data could not be written or moved in
    kArchiveBadTarget = -9,        // the data root or folder name given is unusable
    kArchiveSetAsideFailed = -10,  // the old data could not be moved aside
    kArchiveStopped = -11,         // the caller asked to stop
};
