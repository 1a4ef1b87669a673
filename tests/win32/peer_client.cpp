#include "tests/win32/peer_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "core/json_parse.h"

namespace testsupport {

namespace {

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

bool IsZPath(const std::string& s, size_t at) {
    return s.size() >= at + 3 && (s[at] == 'Z' || s[at] == 'z') && s[at + 1] == ':' &&
           (s[at + 2] == '/' || s[at + 2] == '\\');
}

}  // namespace

bool PeerCall(const std::string& path, const Json::Value& body, Json::Value* reply) {
    const char* base = std::getenv("TALVORA_TEST_PEERS");
    if (!base || !*base) return false;
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    const std::string text = Json::writeString(w, body);
    const std::string url = std::string(base) + path;
    std::string answer;
    long status = 0;
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(text.size()));
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, text.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 120000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (status != 200) return false;
    return ParseJson(answer, reply);
}

std::string HostPath(const std::string& path) {
    if (!IsZPath(path, 0)) return path;
    std::string out = path.substr(2);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string HostCommand(const std::string& command) {
    std::string out;
    for (size_t i = 0; i < command.size(); ++i) {
        // A Z: path starts a word or follows a quote, '=' or '@'.
        const bool boundary = i == 0 || command[i - 1] == ' ' || command[i - 1] == '\'' ||
                              command[i - 1] == '"' || command[i - 1] == '=' ||
                              command[i - 1] == '@';
        if (boundary && IsZPath(command, i)) {
            out += '/';
            i += 2;
            continue;
        }
        out += command[i];
    }
    return out;
}

int SpawnPeer(const std::vector<std::string>& argv, const std::string& stderrPath, int* id) {
    *id = -1;
    Json::Value body(Json::objectValue);
    body["argv"] = Json::Value(Json::arrayValue);
    for (const std::string& a : argv) body["argv"].append(HostPath(a));
    if (!stderrPath.empty()) body["stderr"] = HostPath(stderrPath);
    Json::Value reply;
    if (!PeerCall("/spawn", body, &reply)) return 0;
    *id = reply["id"].asInt();
    return reply["port"].asInt();
}

void StopPeer(int* id) {
    if (*id <= 0) return;
    Json::Value body(Json::objectValue), reply;
    body["id"] = *id;
    PeerCall("/stop", body, &reply);
    *id = -1;
}

}  // namespace testsupport
