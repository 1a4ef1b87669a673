#include <windows.h>
// Needs the types of windows.h above.
#include <psapi.h>

#include "platform/process.h"

namespace platform {
namespace {

class ProcessHandle {
public:
    explicit ProcessHandle(DWORD pid)
        : h_(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {}
    ~ProcessHandle() {
        if (h_) CloseHandle(h_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

bool ListProcessIds(size_t capacity, std::vector<uint32_t>* pids) {
    pids->clear();
    if (capacity == 0 || capacity > 0x1000000) return false;
    std::vector<DWORD> ids(capacity, 0);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(capacity * sizeof(DWORD)), &bytes)) {
        return false;
    }
    size_t count = bytes / sizeof(DWORD);
    pids->assign(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(count));
    return true;
}

bool ProcessBaseName(uint32_t pid, size_t capacity, std::string* name) {
    if (capacity == 0 || capacity > 0xFFFF) return false;
    ProcessHandle process(pid);
    if (!process.get()) return false;
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!EnumProcessModules(process.get(), &first, sizeof(first), &needed)) return false;
    std::vector<char> buf(capacity, '\0');
    DWORD len = GetModuleBaseNameA(process.get(), first, buf.data(), static_cast<DWORD>(capacity));
    if (len == 0) return false;
    name->assign(buf.data(), len < capacity ? len : capacity - 1);
    return true;
}

}  // namespace platform
