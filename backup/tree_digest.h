// The fingerprint of a company's data folder: SHA-256 (hex) over one line per file,
// sorted by path, of "<path>\t<size>\t<time>\n" — the path relative to the folder in
// UTF-8 with "/", the size in bytes and the last-write time in UTC seconds rounded down
// to an even number (zip keeps two-second times and a restore sets them back). The same
// tree gives the same fingerprint on Linux and Windows and after a restore.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TreeDigest {
public:
    // `relativePath` with "/" separators, names in the host's code page.
    void AddFile(const std::string& relativePath, int64_t size, int64_t writeTime);
    std::string Hex() const;

private:
    std::vector<std::string> lines_;
};

// The fingerprint of the folder at `hostPath`; false (and nothing in `hex`) when part
// of it cannot be read. Links and devices are left out, as packing leaves them out.
bool ComputeTreeDigest(const std::string& hostPath, std::string* hex);
