#include "account/environment_check.h"

#include <curl/curl.h>

#include <cctype>
#include <ctime>
#include <mutex>

#include "core/data_dir.h"
#include "core/http_client.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/fs.h"

namespace {

constexpr char kWriteProbeName[] = ".talvora-write-check";

std::mutex g_probeLock;
std::function<bool()> g_invoicingFound;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    static_cast<unsigned char>(prefix[i]))
            return false;
    }
    return true;
}

// The service's address over HTTPS: itself when it is one, else the same host and path
// with the scheme changed.
std::string HttpsAddress(const std::string& url) {
    if (StartsWithNoCase(url, "https://")) return url;
    size_t scheme = url.find("://");
    return "https://" + (scheme == std::string::npos ? url : url.substr(scheme + 3));
}

bool ClockAgrees(const HttpProbeResult& answer, long long now) {
    if (answer.status == 0 || answer.date.empty()) return false;
    time_t service = curl_getdate(answer.date.c_str(), nullptr);
    if (service == static_cast<time_t>(-1)) return false;
    long long skew = now - static_cast<long long>(service);
    return skew <= kEnvClockToleranceSeconds && skew >= -kEnvClockToleranceSeconds;
}

bool FolderTakesAFile(const std::string& dir) {
    if (dir.empty()) return false;
    const std::string path = JoinPath(dir, kWriteProbeName);
    bool ok;
    {
        platform::SharedFile file;
        ok = file.OpenAlways(path) && file.Write("ok", 2) && file.Flush();
    }
    return platform::RemoveFile(path) && ok;
}

}  // namespace

bool EnvironmentReport::AllOk() const {
    for (bool item : ok) {
        if (!item) return false;
    }
    return true;
}

EnvironmentReport CheckEnvironment(const EnvironmentProbe& probe) {
    EnvironmentReport report;
    HttpProbeResult plain;
    if (!probe.serviceUrl.empty()) plain = HttpProbe(probe.serviceUrl, probe.timeoutMs);
    report.ok[kEnvService] = plain.curlCode == 0 && plain.status > 0;
    report.ok[kEnvClock] =
        ClockAgrees(plain, probe.now ? probe.now() : static_cast<long long>(std::time(nullptr)));
    const std::string secure = HttpsAddress(probe.serviceUrl);
    if (probe.serviceUrl.empty()) {
        report.ok[kEnvHttps] = false;
    } else if (secure == probe.serviceUrl) {
        report.ok[kEnvHttps] = report.ok[kEnvService];
    } else {
        HttpProbeResult tls = HttpProbe(secure, probe.timeoutMs);
        report.ok[kEnvHttps] = tls.curlCode == 0 && tls.status > 0;
    }
    report.ok[kEnvInvoicing] = probe.invoicingSoftwareFound && probe.invoicingSoftwareFound();
    report.ok[kEnvDataFolder] = FolderTakesAFile(probe.dataDir);
    WriteLog("environment check: service=%d clock=%d https=%d invoicing=%d dataFolder=%d\r\n",
             report.ok[kEnvService], report.ok[kEnvClock], report.ok[kEnvHttps],
             report.ok[kEnvInvoicing], report.ok[kEnvDataFolder]);
    return report;
}

const wchar_t* EnvironmentItemName(EnvironmentItem item) {
    switch (item) {
        case kEnvService:
            return L"服务器连接";
        case kEnvClock:
            return L"系统时间";
        case kEnvHttps:
            return L"安全连接";
        case kEnvInvoicing:
            return L"开票软件";
        case kEnvDataFolder:
            return L"数据目录";
        default:
            return L"";
    }
}

const wchar_t* EnvironmentFailureText(EnvironmentItem item) {
    switch (item) {
        case kEnvService:
            return L"无法连接服务器，请检查网络";
        case kEnvClock:
            return L"系统时间与服务器相差超过5分钟，请校准系统时间";
        case kEnvHttps:
            return L"HTTPS安全连接失败，请检查证书或代理设置";
        case kEnvInvoicing:
            return L"未找到开票软件，请先安装";
        case kEnvDataFolder:
            return L"数据目录无法写入，请检查权限";
        default:
            return L"";
    }
}

std::wstring EnvironmentReportText(const EnvironmentReport& report) {
    std::wstring text;
    for (int i = 0; i < kEnvItemCount; ++i) {
        const EnvironmentItem item = static_cast<EnvironmentItem>(i);
        if (!text.empty()) text += L"\n";
        text += EnvironmentItemName(item);
        text += L"：";
        text += report.ok[i] ? L"正常" : EnvironmentFailureText(item);
    }
    return text;
}

void SetInvoicingSoftwareProbe(std::function<bool()> found) {
    std::lock_guard<std::mutex> guard(g_probeLock);
    g_invoicingFound = std::move(found);
}

EnvironmentProbe DefaultEnvironmentProbe() {
    EnvironmentProbe probe;
    probe.serviceUrl = g_url;
    probe.dataDir = DataDir();
    {
        std::lock_guard<std::mutex> guard(g_probeLock);
        probe.invoicingSoftwareFound = g_invoicingFound;
    }
    probe.now = [] { return static_cast<long long>(std::time(nullptr)); };
    return probe;
}
