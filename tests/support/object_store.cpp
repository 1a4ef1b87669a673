#include "tests/support/object_store.h"

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
#include <vector>

#ifndef _WIN32
#include "tests/support/child_server.h"
#endif

namespace testsupport {

namespace {

// node loads s3rver and the signer first: allow for a slow, busy machine.
constexpr int kStartWaitMs = 30000;

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

}  // namespace

ObjectStore::ObjectStore(const std::string& bucket) : bucket_(bucket), data_("objectstore") {
    Launch();
}

ObjectStore::~ObjectStore() {
    Stop();
}

std::string ObjectStore::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

DevService::Options ObjectStore::ServiceOptions() const {
    DevService::Options options;
    options.s3Url = url();
    options.bucket = bucket_;
    return options;
}

std::string ObjectStore::Log() const {
    return ReadFile(data_ / "objectstore.log");
}

#ifdef _WIN32
// Under Wine the store runs natively, started by talvora-test-peers.
bool ObjectStore::Launch() {
    port_ = SpawnPeer(
        {"node", std::string(TALVORA_SOURCE_DIR) + "/devservice/objectstore/objectstore.js",
         "--data", data_.path(), "--port", "0", "--bucket", bucket_},
        data_ / "objectstore.log", &pid_);
    return ok();
}

void ObjectStore::Stop() {
    StopPeer(&pid_);
    port_ = 0;
}
#else
bool ObjectStore::Launch() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    const int err =
        open((data_ / "objectstore.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> args = {
        "node",     std::string(TALVORA_SOURCE_DIR) + "/devservice/objectstore/objectstore.js",
        "--data",   data_.path(),
        "--port",   "0",
        "--bucket", bucket_};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        // The store goes with the test process, even when that one crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out[1], STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (err >= 0) close(err);
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

void ObjectStore::Stop() {
    StopChild(&pid_);
    port_ = 0;
}
#endif

bool ObjectStore::ExpireCredentials(const std::string& access) {
    Json::Value body(Json::objectValue);
    if (!access.empty()) body["access"] = access;
    return Control("/_control/expire", body);
}

bool ObjectStore::SetUploadFault(long long dropAfter, bool damage, int times) {
    Json::Value body(Json::objectValue);
    body["dropAfter"] = static_cast<Json::Int64>(dropAfter);
    body["damage"] = damage;
    body["times"] = times;
    return Control("/_control/fault", body);
}

bool ObjectStore::Control(const std::string& path, const Json::Value& body) {
    if (!ok()) return false;
    Json::StreamWriterBuilder writer;
    const std::string text = Json::writeString(writer, body);
    const std::string target = url() + path;
    long status = 0;
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, text.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return status == 200;
}

}  // namespace testsupport
