#include "software/upgrade.h"

#include <openssl/evp.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "core/crash_hook.h"
#include "core/curl_policy.h"
#include "core/local_settings.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/fs.h"
#include "platform/private_files.h"
#include "software/transfer_options.h"

namespace {

constexpr int kLengthAttempts = 3;
constexpr int kDownloadAttempts = 5;
constexpr int kTickMs = 200;
constexpr long kTransferBuffer = 512 * 1024;

std::atomic<unsigned> g_jobCount{0};

// A name part no other job of this or another running process uses: the clock at its
// making and the job's number.
std::string NewPartTag() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const unsigned long long ns = static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    return std::to_string(ns) + "-" + std::to_string(++g_jobCount);
}

struct CurlCleanup {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

struct FileClose {
    void operator()(FILE* f) const { fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileClose>;

// Limits of every request of the job, from settings.json (a value below 1 means the
// default):
//   "downloadConnectTimeoutMs"  time to connect, default 20000;
//   "downloadLowSpeedBytes" and "downloadLowSpeedSeconds"  a transfer slower than this
//       many bytes a second for this many seconds fails its attempt, defaults 1024 and 60.
// No total limit: a large package on a slow but live line may take long.
long LimitSetting(const char* name, long fallback) {
    long long value = LocalSettingInt(name, fallback);
    if (value < 1 || value > 0x7fffffffLL) return fallback;
    return static_cast<long>(value);
}

int StopProgress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return StopRequested(static_cast<const std::atomic<bool>*>(data)) ? 1 : 0;
}

size_t StopAtBody(char*, size_t, size_t, void*) {
    return 0;
}

// Progress of the size probe: only whether the job was stopped or abandoned.
int ProbeProgress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const Upgrade* job = static_cast<const Upgrade*>(data);
    return StopRequested(job->stop) || job->cancel ? 1 : 0;
}

size_t LogHeaderBytes(char* data, size_t size, size_t count, void*) {
    size_t n = size * count;
    WriteLog("http:%s", LogSafe(std::string(data, n)).c_str());
    return n;
}

struct DigestFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestFree>;

std::string HexOf(const unsigned char* bytes, unsigned len) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < len; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 0xF];
    }
    return hex;
}

// The file being written and the MD5 of what went into it, so that the package is
// never read back only to be digested.
struct Sink {
    FILE* file;
    Upgrade* job;
    Digest md5;
    bool checkReply = false;  // refuse a reply without a known size at its first byte
    bool checked = false;
    bool sizeUnknown = false;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* out) {
    Sink* sink = static_cast<Sink*>(out);
    if (sink->checkReply && !sink->checked) {
        sink->checked = true;
        curl_off_t announced = -1;
        long status = 0;
        CURL* h = sink->job->transfer;
        if (!h ||
            curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK ||
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 200 ||
            status > 299 || announced <= 0) {
            sink->sizeUnknown = true;
            return 0;
        }
    }
    size_t n = fwrite(data, size, count, sink->file);
    if (sink->md5) EVP_DigestUpdate(sink->md5.get(), data, n * size);
    sink->job->receivedBytes += static_cast<long long>(n * size);
    CrashPoint("download", sink->job->receivedBytes);
    return n;
}

std::string FinishDigest(EVP_MD_CTX* ctx) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &len) != 1) return std::string();
    return HexOf(digest, len);
}

// The share of the file received; 0 while the total is not known yet.
double Percent(curl_off_t total, curl_off_t now) {
    if (total <= 0 || now <= 0) return 0;
    double p = static_cast<double>(now) / static_cast<double>(total) * 100.0;
    return p > 100.0 ? 100.0 : p;
}

int Progress(void* data, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    Upgrade* job = static_cast<Upgrade*>(data);
    if (StopRequested(job->stop)) return 1;
    double elapsed = 0;
    if (job->transfer) curl_easy_getinfo(job->transfer, CURLINFO_TOTAL_TIME, &elapsed);
    double percent = Percent(total, now);
    if (elapsed - job->lastTime >= 1.0) {
        WriteLog("Downloading package file: %f%%\r\n", percent);
        job->lastTime = elapsed;
        job->lastBytes = static_cast<double>(now);
    }
    // 100 is for a verified package at its name; the transfer alone never claims it.
    job->rate = percent >= 99.0 ? 99 : static_cast<int>(percent);
    job->attemptBytes = static_cast<long long>(now);
    job->attemptTotal = static_cast<long long>(total);
    return job->cancel ? 1 : 0;
}

// 0 when `actual` equals `expectedMd5` exactly.
int CompareDigest(const std::string& actual, const std::string& expectedMd5) {
    WriteLog("json md5:%s <--> file md5:%s\r\n", expectedMd5.c_str(), actual.c_str());
    // A file that cannot be read through never matches.
    if (actual.empty()) return -1;
    return actual.compare(expectedMd5);
}

// 0 when the MD5 of `path` equals `expectedMd5` exactly; -1 unreadable file. The
// digest goes to `actual` when given.
int VerifyFile(const std::string& path, const std::string& expectedMd5,
               std::string* actual = nullptr) {
    FILE* raw = fopen(path.c_str(), "rb");
    if (!raw) {
        WriteLog("Failed to open %s\r\n", path.c_str());
        return -1;
    }
    fclose(raw);
    std::string digest = FileMd5(path);
    if (actual) *actual = digest;
    return CompareDigest(digest, expectedMd5);
}

}  // namespace

// Options every request of the job shares. Packages are installers that get run, so
// they follow the program's rules for every request (HTTPS verified, no downgrade).
int JobTransferOptions(CURL* h, const std::string& url) {
    int rc = ApplyCurlPolicy(h, url);
    if (rc != 0) return rc;
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, LimitSetting("downloadConnectTimeoutMs", 20000));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, LimitSetting("downloadLowSpeedBytes", 1024));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, LimitSetting("downloadLowSpeedSeconds", 60));
    return 0;
}

void EndTransferOnStop(CURL* h, const std::atomic<bool>* stop) {
    if (!stop) return;
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, StopProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, stop);
}

int Upgrade::get_download_file_length() {
    // A presigned address carries its signature and credentials.
    WriteLog("url:%s\r\n", LogSafe(packageUrl).c_str());
    double length = 0;
    for (int attempt = 1; attempt <= kLengthAttempts && !StopRequested(stop); ++attempt) {
        CurlHandle h(curl_easy_init());
        bool ok = false;
        if (h && JobTransferOptions(h.get(), packageUrl) == 0) {
            // A GET that stops at the first body byte: a presigned address is signed for
            // GET only, so a HEAD request would be refused.
            curl_easy_setopt(h.get(), CURLOPT_HEADERFUNCTION, LogHeaderBytes);
            curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, StopAtBody);
            curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, ProbeProgress);
            curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, this);
            curl_off_t announced = -1;
            long status = 0;
            CURLcode rc = curl_easy_perform(h.get());
            ok = (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) &&
                 curl_easy_getinfo(h.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                     CURLE_OK &&
                 curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
            // An error page's length is not the package's.
            if (ok && (status < 200 || status > 299)) announced = -1;
            if (ok) {
                WriteLog("===============\r\n");
                length = static_cast<double>(announced);
                WriteLog("get_download_file_length OK download_length=%lf\r\n", length);
                if (length < 0) length = 0;
            }
        }
        if (ok || cancel) break;
        WriteLog("get_download_file_length Fail\r\n");
        length = 0;
        WriteLog("%s retry %d\r\n", "Upgrade::get_download_file_length",
                 kLengthAttempts + 1 - attempt);
    }
    // Sizes beyond an int's range are still known sizes; keep them positive.
    if (length > 2147483647.0) return 2147483647;
    return static_cast<int>(length);
}

int Upgrade::download_package_file() {
    transferMd5_.clear();
    if (!sizeFromTransfer && get_download_file_length() == 0) {
        WriteLog("%s: get_download_file_length return size 0\r\n",
                 "Upgrade::download_package_file");
        return 101;
    }
    const std::string part = PartPath();
    int result = -1;
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
        if (StopRequested(stop) || cancel) {
            WriteLog("download abandoned\r\n");
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        WriteLog("continue_transfer mode=[%s] resume_from=%d\r\n", "NO", 0);
        // A fresh file for every attempt, created exclusively: whatever was left or
        // planted under the name is removed, never followed.
        platform::RemoveFile(part);
        FileHandle file(fopen(part.c_str(), "wbx"));
        // Downloads (backups of tax data among them) are the user's alone.
        if (file) platform::MakeFilePrivate(part);
        if (!file) {
            WriteLog("create file [%s] fail\r\n", part.c_str());
            return 100;
        }
        CurlHandle h(curl_easy_init());
        if (!h) {
            result = CURLE_FAILED_INIT;
            continue;
        }
        result = JobTransferOptions(h.get(), packageUrl);
        if (result != 0) break;
        Sink sink{file.get(), this, Digest(EVP_MD_CTX_new())};
        if (sink.md5 && EVP_DigestInit_ex(sink.md5.get(), EVP_md5(), nullptr) != 1)
            sink.md5.reset();
        sink.checkReply = sizeFromTransfer;
        curl_easy_setopt(h.get(), CURLOPT_BUFFERSIZE, kTransferBuffer);
        curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, WriteToFile);
        curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(h.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, Progress);
        curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, this);
        transfer = h.get();
        lastTime = 0;
        lastBytes = 0;
        attemptBytes = 0;
        attemptTotal = 0;
        CURLcode rc = curl_easy_perform(h.get());
        if (rc == CURLE_OK && sink.checkReply && !sink.checked) {
            // No body at all: judged like the first byte of one.
            sink.checked = true;
            sink.sizeUnknown = true;
        }
        transfer = nullptr;
        result = static_cast<int>(rc);
        if (sink.sizeUnknown) {
            WriteLog("%s: get_download_file_length return size 0\r\n",
                     "Upgrade::download_package_file");
            file.reset();
            platform::RemoveFile(part);
            return 101;
        }
        if (rc == CURLE_RANGE_ERROR) {
            WriteLog("server not support range, reset CURLOPT_RESUME_FROM 0\r\n");
            continue;
        }
        if (rc == CURLE_OK) {
            WriteLog("Download complete\r\n");
            // Buffered bytes that cannot be written make the download a failure.
            if (fclose(file.release()) == 0) {
                if (sink.md5) transferMd5_ = FinishDigest(sink.md5.get());
                return 0;
            }
            result = CURLE_WRITE_ERROR;
            continue;
        }
        WriteLog("%s with CURL error code=%d. %s\r\n", "Upgrade::download_package_file", result,
                 attempt < kDownloadAttempts ? "retry" : "");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    platform::RemoveFile(part);
    return result == 0 ? -1 : result;
}

int Upgrade::verify_package_file() {
    return VerifyFile(packagePath, expectedMd5);
}

Upgrade::Upgrade() : partTag_(NewPartTag()) {}

std::string Upgrade::PartPath() const {
    return packagePath + "." + partTag_ + ".part";
}

int Upgrade::remove_files() {
    if (current.iCanUpdate == 0) return -1;
    for (const std::string* path : {&packagePath, &jsonPath}) {
        if (path->empty() || !platform::FileExists(*path)) continue;
        if (!platform::RemoveFile(*path)) {
            WriteLog("DeleteFile [%s] failed with error [%d]\r\n", path->c_str(), errno);
        }
    }
    return 0;
}

int Upgrade::download_package_file_and_verify() {
    if (current.iCanUpdate == 0) {
        WriteLog("iCanUpdate=%d\r\n", 0);
        return -1;
    }
    verifiedMd5.clear();
    std::string present;
    if (VerifyFile(packagePath, expectedMd5, &present) == 0) {
        verifiedMd5 = present;
    } else {
        remove_files();
        if (download_package_file() != 0) {
            state = 34;
            rate = 0;
            errorKind = 1;
            WriteLog("download_package_file failed\r\n");
            return -2;
        }
        // The package takes its name only once its digest matched, so neither a bad
        // copy nor a run that ends half-way is ever found there.
        // Digested on the way in; read back only when that digest is missing.
        std::string actual = transferMd5_;
        const int verified = actual.empty() ? VerifyFile(PartPath(), expectedMd5, &actual)
                                            : CompareDigest(actual, expectedMd5);
        if (verified != 0) {
            platform::RemoveFile(PartPath());
            state = 63;
            rate = 0;
            errorKind = 1;
            WriteLog("verify_package_file failed\r\n");
            return -3;
        }
        // The package's name is given to flushed bytes only.
        if (!platform::SyncPath(PartPath()) ||
            !platform::MoveFileReplace(PartPath(), packagePath)) {
            WriteLog("rename [%s] failed with error [%d]\r\n", PartPath().c_str(), errno);
            platform::RemoveFile(PartPath());
            state = 34;
            rate = 0;
            errorKind = 1;
            return -2;
        }
        verifiedMd5 = actual;
    }
    rate = 100;
    errorKind = 0;
    state = 63;
    return 0;
}

bool Upgrade::DownloadAndVerify(std::wstring* status) {
    state = 34;
    rate = 0;
    errorKind = 0;
    if (download_package_file_and_verify() != 0) {
        WriteLog("download_package_file_and_verify failed\r\n");
        *status = L"新版本下载校验失败";
        remove_files();
        return false;
    }
    done = 1;
    WriteLog("download_package_file_and_verify succeeded\r\n");
    *status = L"新版本已下载校验完成";
    return true;
}

void Upgrade::StopTicker() {
    std::lock_guard<std::mutex> guard(tickerLock_);
    tickerStop_ = true;
    tickerWake_.notify_all();
}

void Upgrade::TickNow() {
    std::lock_guard<std::mutex> guard(tickerLock_);
    tickNow_ = true;
    tickerWake_.notify_all();
}

bool Upgrade::WaitTickerStop(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(tickerLock_);
    tickerWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [this] { return tickerStop_ || tickNow_; });
    tickNow_ = false;
    return tickerStop_;
}

void Upgrade::MarkFinished(int result) {
    std::lock_guard<std::mutex> guard(tickerLock_);
    finished_ = true;
    finishedResult_ = result;
    tickerWake_.notify_all();
}

bool Upgrade::WaitFinished(unsigned milliseconds, int* result) {
    std::unique_lock<std::mutex> lock(tickerLock_);
    if (!tickerWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return finished_; })) {
        return false;
    }
    if (result) *result = finishedResult_;
    return true;
}

void ProgressTicker(Upgrade* job) {
    for (;;) {
        if (job->WaitTickerStop(kTickMs)) break;
        int rate = job->rate;
        WriteLog("rate=%d\r\n", rate);
        PostAppMessage(job->notifyWindow, job->notifyMessage,
                       static_cast<uintptr_t>(job->notifyParam), rate);
        if (rate >= 100) break;
    }
    WriteLog("Rate UI thread exit\r\n");
}

int RunDownloadJob(Upgrade* job) {
    PostAppMessage(job->notifyWindow, job->notifyMessage, static_cast<uintptr_t>(job->notifyParam),
                   0);
    job->rate = 0;
    job->done = 0;
    job->current.iCanUpdate = 1;
    std::thread ticker(ProgressTicker, job);
    std::wstring status;
    if (job->DownloadAndVerify(&status)) {
        WriteLog("download over\r\n");
        PostAppMessage(job->notifyWindow, job->notifyMessage,
                       static_cast<uintptr_t>(job->notifyParam), 100);
        // The ticker ends by itself once it has seen 100; it need not wait for its tick.
        job->TickNow();
        ticker.join();
        job->MarkFinished(0);
        return 0;
    }
    job->StopTicker();
    ticker.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    job->MarkFinished(-1);
    return -1;
}
