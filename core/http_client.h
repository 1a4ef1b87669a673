// Blocking JSON requests over libcurl, one fresh handle per call. The response body is
// returned as received (empty on transport failure); status and transport outcome go
// to the log only, so callers judge success from the body. Call from worker threads.
//
// Every request follows the program's libcurl rules (core/curl_policy.h): HTTP and
// HTTPS only, and HTTPS verified unless settings.json says "tlsVerify": false. A reply
// larger than kMaxReplyBytes is abandoned: the transfer stops, the result is empty and
// the log says so.
//
// settings.json: "httpTimeoutMs" shortens every limit below (tests use it), and
// "httpStallSeconds" (default 60) ends any request, even one without a limit, once the
// server has sent nothing for that long.
#pragma once

#include <cstddef>
#include <string>

// Far above any real reply; the unpaged backup list of a large agency after years of
// nightly backups still fits.
constexpr size_t kMaxReplyBytes = 64u << 20;

// extraHeader: one header line such as "Authorization: Bearer ..." or empty for none.
// timeoutMs: whole-transfer limit, 0 for none.
std::string HttpPost(const std::string& url, const std::string& body,
                     const std::string& extraHeader, long timeoutMs);
// `tooLarge`, when given, tells an empty result of a reply over kMaxReplyBytes from others.
std::string HttpGet(const std::string& url, const std::string& extraHeader, long timeoutMs,
                    bool* tooLarge = nullptr);
// Waits up to 20000 ms (or "httpTimeoutMs" when less).
std::string HttpDelete(const std::string& url, const std::string& extraHeader);

// What a GET says about the connection rather than its body, for checks of the
// connection itself: the libcurl result (0: an answer came, over verified TLS for
// HTTPS), the HTTP status (0 without an answer) and the answer's "Date" header.
struct HttpProbeResult {
    int curlCode = -1;
    long status = 0;
    std::string date;
};
HttpProbeResult HttpProbe(const std::string& url, long timeoutMs);
