#include "backup/archive_name.h"

#include <cstdio>
#include <vector>

#include "platform/fs.h"

std::string CompactTime(const std::string& time) {
    if (time.size() < 19) return std::string();
    return time.substr(0, 4) + time.substr(5, 2) + time.substr(8, 2) + time.substr(11, 2) +
           time.substr(14, 2) + time.substr(17, 2);
}

std::string CompactNow() {
    platform::LocalTime t = platform::NowLocal();
    char buf[32];
    snprintf(buf, sizeof(buf), "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
             t.second);
    return buf;
}

std::string MakeArchiveName(const std::string& dirName, const std::string& typeStrEn,
                            const std::string& bakTime) {
    return dirName + "_" + typeStrEn + "_" + CompactTime(bakTime) + ".zip";
}

bool ParseArchiveName(const std::string& fileName, std::string* dirName, std::string* typeStrEn) {
    static const char kZip[] = ".zip";
    const size_t zipLen = sizeof(kZip) - 1;
    if (fileName.size() <= zipLen || fileName.compare(fileName.size() - zipLen, zipLen, kZip) != 0)
        return false;
    const std::string stem = fileName.substr(0, fileName.size() - zipLen);
    const size_t timeSep = stem.rfind('_');
    if (timeSep == std::string::npos || timeSep == 0) return false;
    const std::string time = stem.substr(timeSep + 1);
    if (!time.empty() &&
        (time.size() != 14 || time.find_first_not_of("0123456789") != std::string::npos))
        return false;
    const size_t editionSep = stem.rfind('_', timeSep - 1);
    if (editionSep == std::string::npos || editionSep == 0) return false;
    const std::string edition = stem.substr(editionSep + 1, timeSep - editionSep - 1);
    if (edition != "JSP" && edition != "SKP" && edition != "UK") return false;
    *dirName = stem.substr(0, editionSep);
    *typeStrEn = edition;
    return true;
}

std::string ArchiveEdition(const std::string& archivePath) {
    // Either separator: download paths may come in Windows form.
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t sep = archivePath.find_first_of("/\\", start);
        parts.push_back(archivePath.substr(start, sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    if (parts.size() < 3 || parts[parts.size() - 3] != "taxDataTmp") return std::string();
    const std::string& edition = parts[parts.size() - 2];
    if (edition != "JSP" && edition != "SKP" && edition != "UK") return std::string();
    return edition;
}
