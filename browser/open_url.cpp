#include "browser/open_url.h"

#include <mutex>
#include <thread>

#include "browser/web_addresses.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/text.h"
#include "platform/program_launch.h"

namespace {

std::mutex g_openerLock;
ShellUrlOpener g_opener;

}  // namespace

void SetShellUrlOpener(ShellUrlOpener opener) {
    std::lock_guard<std::mutex> guard(g_openerLock);
    g_opener = std::move(opener);
}

void OpenUrlInShell(const std::wstring& url) {
    const std::string narrow = WideToAnsi(url);
    if (!IsWebAddress(WideToUtf8(url))) {
        WriteLog("not a web address, not opened: %s\r\n", LogSafe(narrow).c_str());
        return;
    }
    ShellUrlOpener opener;
    {
        std::lock_guard<std::mutex> guard(g_openerLock);
        opener = g_opener;
    }
    // The shell may take its time (starting a browser); the caller does not wait.
    std::thread([url, narrow, opener] {
        if (opener)
            opener(url);
        else
            platform::ShellOpen(narrow);
    }).detach();
}
