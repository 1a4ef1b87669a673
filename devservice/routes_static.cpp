// Files from the --static folder under /files/. Whole files carry Content-Length and
// honour Range; "?chunked=1" sends them chunked, without a length. A fault with
// "dropAfter" closes the connection after that many body bytes; one with "stallAfter"
// sends that many and then nothing while it holds the connection open; one with
// "rateBytesPerSec" sends the body no faster than that.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "devservice/routes.h"

namespace devservice {

namespace {

constexpr size_t kChunk = 64 * 1024;

// Holds the connection silent for up to `ms`, ending early once the client has gone.
void Stall(int ms, httplib::DataSink& sink) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && sink.is_writable()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool SafeRelative(const std::string& path) {
    if (path.empty() || path[0] == '/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string ContentType(const std::string& path) {
    auto ends = [&](const char* ext) {
        const std::string e(ext);
        return path.size() >= e.size() && path.compare(path.size() - e.size(), e.size(), e) == 0;
    };
    if (ends(".json")) return "application/json";
    if (ends(".html")) return "text/html;charset=UTF-8";
    if (ends(".txt")) return "text/plain;charset=UTF-8";
    return "application/octet-stream";
}

}  // namespace

void RegisterStaticRoutes(httplib::Server& server, ServiceContext& ctx) {
    server.Get(R"(/files/(.+))", [&ctx](const httplib::Request& req, httplib::Response& res) {
        const std::string rel = req.matches[1];
        struct stat st {};
        const std::string path = ctx.staticDir + "/" + rel;
        if (ctx.staticDir.empty() || !SafeRelative(rel) || stat(path.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        const Fault* fault = Faults::Current();
        const long long dropAfter = fault ? fault->dropAfter : -1;
        const long long stallAfter = fault ? fault->stallAfter : -1;
        const int stallMs = fault ? fault->stallMs : 0;
        const long long rate = fault ? fault->rateBytesPerSec : 0;
        auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
        auto sent = std::make_shared<long long>(0);
        auto started = std::make_shared<std::chrono::steady_clock::time_point>(
            std::chrono::steady_clock::now());
        // Hands out up to `want` bytes from `offset`, stopping at the drop or stall
        // point. Returns the bytes written, or -1 to close the connection.
        auto pump = [file, sent, dropAfter, stallAfter, stallMs, rate, started](
                        size_t offset, size_t want, httplib::DataSink& sink) -> long long {
            if (dropAfter >= 0 && *sent >= dropAfter) return -1;
            if (stallAfter >= 0 && *sent >= stallAfter) {
                Stall(stallMs, sink);
                return -1;
            }
            size_t n = std::min(want, kChunk);
            if (dropAfter >= 0) n = std::min<size_t>(n, static_cast<size_t>(dropAfter - *sent));
            if (stallAfter >= 0) n = std::min<size_t>(n, static_cast<size_t>(stallAfter - *sent));
            if (rate > 0) {
                // Small pieces, each sent once the bytes before it have had their time.
                n = std::min<size_t>(n, static_cast<size_t>(std::max<long long>(1, rate / 20)));
                const auto due = *started + std::chrono::milliseconds(*sent * 1000 / rate);
                while (std::chrono::steady_clock::now() < due) {
                    if (!sink.is_writable()) return -1;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            std::string buf(n, '\0');
            file->clear();
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(&buf[0], static_cast<std::streamsize>(n));
            const size_t got = static_cast<size_t>(file->gcount());
            if (got == 0 || !sink.write(buf.data(), got)) return -1;
            *sent += static_cast<long long>(got);
            return static_cast<long long>(got);
        };
        const std::string type = ContentType(rel);
        const size_t size = static_cast<size_t>(st.st_size);
        if (req.get_param_value("chunked") == "1") {
            res.set_chunked_content_provider(type,
                                             [pump, size](size_t offset, httplib::DataSink& sink) {
                                                 if (offset >= size) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 return pump(offset, size - offset, sink) >= 0;
                                             });
            return;
        }
        res.set_content_provider(size, type,
                                 [pump](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return pump(offset, length, sink) >= 0;
                                 });
    });
}

}  // namespace devservice
