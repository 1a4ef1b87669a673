#include "tests/support/dev_service.h"

#include <curl/curl.h>
#ifdef _WIN32
#include "tests/win32/peer_client.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "core/json_parse.h"
#ifndef _WIN32
#include "tests/support/child_server.h"
#endif

namespace testsupport {

namespace {

constexpr int kStartWaitMs = 20000;

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

}  // namespace

bool MakeSelfSignedCert(const std::string& dir, std::string* certFile, std::string* keyFile) {
    *certFile = dir + "/cert.pem";
    *keyFile = dir + "/key.pem";
    int rc = -1;
    RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1,DNS:localhost"
        " -keyout '" +
            *keyFile + "' -out '" + *certFile + "' 2>/dev/null",
        &rc);
    return rc == 0 && !ReadFile(*certFile).empty();
}

DevService::DevService() : DevService(Options()) {}

DevService::DevService(const Options& options) : options_(options) {
    if (options_.dataDir.empty()) {
        ownData_ = std::make_unique<TempDir>("devdata");
        dataDir_ = ownData_->path();
    } else {
        dataDir_ = options_.dataDir;
    }
    staticDir_ = std::make_unique<TempDir>("devstatic");
    if (options_.https) {
        certDir_ = std::make_unique<TempDir>("devcert");
        if (!MakeSelfSignedCert(certDir_->path(), &certFile_, &keyFile_)) return;
    }
    Launch();
}

DevService::~DevService() {
    Stop();
}

std::string DevService::url() const {
    return std::string(options_.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string DevService::FileUrl(const std::string& name, bool chunked) const {
    return url() + "/files/" + name + (chunked ? "?chunked=1" : "");
}

std::vector<std::string> DevService::Arguments() const {
    std::vector<std::string> args = {std::string(TALVORA_BIN_DIR) + "/talvora-devservice",
                                     "--port",
                                     "0",
                                     "--data",
                                     dataDir_,
                                     "--static",
                                     staticDir_->path()};
    if (options_.https) args.insert(args.end(), {"--cert", certFile_, "--key", keyFile_});
    if (!options_.s3Url.empty()) args.insert(args.end(), {"--s3", options_.s3Url});
    if (!options_.bucket.empty()) args.insert(args.end(), {"--bucket", options_.bucket});
    for (const auto& entry : options_.latency)
        args.insert(args.end(), {"--latency", entry.first + "=" + std::to_string(entry.second)});
    if (options_.tokenLifetimeSeconds > 0)
        args.insert(args.end(),
                    {"--token-lifetime", std::to_string(options_.tokenLifetimeSeconds)});
    return args;
}

#ifdef _WIN32
// Under Wine the service runs natively, started by talvora-test-peers.
bool DevService::Launch() {
    port_ = SpawnPeer(Arguments(), std::string(), &pid_);
    return ok();
}

void DevService::Stop() {
    StopPeer(&pid_);
    port_ = 0;
}
#else
bool DevService::Launch() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = Arguments();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        // The service goes with the test process, even when that one crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return false;
    }
    pid_ = pid;
    port_ = ReadListeningPort(out[0], kStartWaitMs);
    close(out[0]);
    if (port_ <= 0) Stop();
    return ok();
}

void DevService::Stop() {
    StopChild(&pid_);
    port_ = 0;
}
#endif

bool DevService::Restart() {
    Stop();
    return Launch();
}

std::string DevService::Control(const std::string& path, const std::string& body, bool post,
                                long* status) {
    std::string result;
    long code = 0;
    CURL* curl = curl_easy_init();
    if (curl) {
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        const std::string target = url() + path;
        curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        // Seeding a large cloud list takes a while on a busy machine.
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 120000L);
        if (post) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
            curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
        }
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result);
        if (curl_easy_perform(curl) == CURLE_OK)
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
    }
    if (status) *status = code;
    return result;
}

namespace {
bool Succeeded(DevService& s, const std::string& path, const Json::Value& body) {
    long status = 0;
    s.Control(path, Compact(body), true, &status);
    return status == 200;
}
}  // namespace

bool DevService::SetFault(const std::string& path, const Fault& f) {
    Json::Value v(Json::objectValue);
    v["path"] = path;
    v["delayMs"] = f.delayMs;
    v["status"] = f.status;
    if (f.replaceBody) v["body"] = f.body;
    if (f.emptyBody) v["empty"] = true;
    if (!f.contentType.empty()) v["contentType"] = f.contentType;
    v["drop"] = f.drop;
    v["dropAfter"] = static_cast<Json::Int64>(f.dropAfter);
    v["stallAfter"] = static_cast<Json::Int64>(f.stallAfter);
    v["stallMs"] = f.stallMs;
    if (f.rateBytesPerSec > 0) v["rateBytesPerSec"] = static_cast<Json::Int64>(f.rateBytesPerSec);
    if (!f.location.empty()) v["location"] = f.location;
    v["times"] = f.times;
    return Succeeded(*this, "/test/fault", v);
}

bool DevService::ClearFaults(const std::string& path) {
    Json::Value v(Json::objectValue);
    v["path"] = path;
    return Succeeded(*this, "/test/fault/clear", v);
}

bool DevService::ScanQr(const std::string& sceneStr, bool mobileBound, const std::string& mobile) {
    Json::Value v(Json::objectValue);
    v["sceneStr"] = sceneStr;
    v["mobBinded"] = mobileBound;
    v["mobile"] = mobile;
    return Succeeded(*this, "/test/wechat/scan", v);
}

bool DevService::ExpireTokens(const std::string& accessToken) {
    Json::Value v(Json::objectValue);
    v["token"] = accessToken;
    return Succeeded(*this, "/test/tokens/expire", v);
}

bool DevService::SetTokenLifetime(double seconds) {
    Json::Value v(Json::objectValue);
    v["seconds"] = seconds;
    return Succeeded(*this, "/test/tokens/lifetime", v);
}

bool DevService::SetLatency(const std::string& path, int ms, bool clear) {
    Json::Value v(Json::objectValue);
    v["clear"] = clear;
    v["routes"][path] = ms;
    return Succeeded(*this, "/test/latency", v);
}

bool DevService::SetCodeAsString(bool asString) {
    Json::Value v(Json::objectValue);
    v["codeAsString"] = asString;
    return Succeeded(*this, "/test/settings", v);
}

bool DevService::AddAccount(const std::string& mobile, const std::string& password,
                            const std::string& role) {
    Json::Value v(Json::objectValue);
    v["mobile"] = mobile;
    v["password"] = password;
    v["role"] = role;
    return Succeeded(*this, "/test/accounts", v);
}

bool DevService::SeedBackups(const std::string& mobile, int count, int companies) {
    Json::Value v(Json::objectValue);
    v["mobile"] = mobile;
    v["count"] = count;
    v["companies"] = companies;
    return Succeeded(*this, "/test/backups/seed", v);
}

bool DevService::AddEnterprise(const std::string& creditCode, const std::string& name) {
    Json::Value v(Json::objectValue);
    v["creditCode"] = creditCode;
    v["name"] = name;
    return Succeeded(*this, "/test/enterprises", v);
}

Json::Value DevService::Requests() {
    std::string text = Control("/test/requests", std::string(), false);
    Json::Value root;
    if (!ParseJson(text, &root)) {
        return Json::Value(Json::arrayValue);
    }
    return root["requests"];
}

bool DevService::ClearRequests() {
    return Succeeded(*this, "/test/requests/clear", Json::Value(Json::objectValue));
}

}  // namespace testsupport
