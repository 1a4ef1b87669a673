#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_version.h"
#include "platform/posix/pe_version_resource.h"
#include "platform/wine_prefix.h"

namespace platform {
namespace {

class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st;
        if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
            size_ = static_cast<uint64_t>(st.st_size);
        } else if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~FileSource() override {
        if (fd_ >= 0) close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool ok() const { return fd_ >= 0; }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, size_t len, void* out) const override {
        if (offset > size_ || len > size_ - offset) return false;
        char* p = static_cast<char*>(out);
        while (len > 0) {
            ssize_t n = pread(fd_, p, len, static_cast<off_t>(offset));
            if (n <= 0) return false;
            p += n;
            offset += static_cast<uint64_t>(n);
            len -= static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_ = 0;
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
