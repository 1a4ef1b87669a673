// Names of backup archives and of the folders a restore leaves beside the data.
#pragma once

#include <string>

// "YYYY-MM-DD hh:mm:ss" reduced to its fourteen digits; empty when shorter than 19.
std::string CompactTime(const std::string& time);
// The current local time as fourteen digits.
std::string CompactNow();

// dirName + "_" + typeStrEn + "_" + compact bakTime + ".zip".
std::string MakeArchiveName(const std::string& dirName, const std::string& typeStrEn,
                            const std::string& bakTime);

// The folder and edition key a name of MakeArchiveName's form gives, read from its end
// (a dirName may hold "_"); false for any other name.
bool ParseArchiveName(const std::string& fileName, std::string* dirName, std::string* typeStrEn);

// The edition key of an archive downloaded to taxDataTmp/<typeStrEn>/ ("JSP", "SKP" or
// "UK"), read from that folder; empty when the archive lies elsewhere.
std::string ArchiveEdition(const std::string& archivePath);
