#include "platform/file_version.h"
#include "platform/fs.h"
#include "platform/posix/pe_version_resource.h"
#include "platform/wine_prefix.h"

namespace platform {
namespace {

// The path comes from the registry: whatever sits there is read only when it is a
// regular file.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) { file_.Open(path); }

    bool ok() const { return file_.IsOpen(); }
    uint64_t Size() const override { return static_cast<uint64_t>(file_.Stamp().size); }
    bool Read(uint64_t offset, size_t len, void* out) const override {
        return file_.ReadAt(offset, len, out);
    }

private:
    ForeignFile file_;
};

}  // namespace

bool ReadFixedFileVersion(const std::string& path, uint32_t* versionMs, uint32_t* versionLs) {
    std::string host = WindowsPathToHost(path);
    if (host.empty()) return false;
    FileSource source(host);
    if (!source.ok()) return false;
    return FindFixedFileVersion(source, versionMs, versionLs);
}

}  // namespace platform
