// The local record of verified backups: "verified.json" in the data folder, one member
// per backup identifier with the time (China time) of its last passed verification.
// The service keeps nothing of the kind; records of deleted backups are dropped when
// the next verification writes the file.
#pragma once

#include <map>
#include <set>
#include <string>

// Records that the backup `fileId` passed at `time`, keeping only the identifiers in
// `known` besides it (an empty map keeps all). False (logged) when it cannot be written.
bool MarkVerified(long long fileId, const std::string& time, const std::set<long long>& known = {});

// Backup identifier -> time of its last passed verification.
std::map<long long, std::string> VerifiedBackups();
