// Blocking JSON requests over libcurl, one fresh handle per call. The response body is
// returned as received (empty on transport failure); status and transport outcome go
// to the log only, so callers judge success from the body. Call from worker threads.
//
// TLS: certificates and host names are verified for every "https" URL. Verification
// is switched off only for the test service (g_config->isUat, set when the `url` file
// names a "uat" address) or when settings.json beside the program has
// "tlsVerify": false. settings.json may also name "caFile", a PEM bundle trusted in
// addition to the system's (a private test authority).
#pragma once

#include <string>

// extraHeader: one header line such as "Authorization: Bearer ..." or empty for none.
// timeoutMs: whole-transfer limit, 0 for none.
std::string HttpPost(const std::string& url, const std::string& body,
                     const std::string& extraHeader, long timeoutMs);
std::string HttpGet(const std::string& url, const std::string& extraHeader, long timeoutMs);
// Always waits up to 20000 ms.
std::string HttpDelete(const std::string& url, const std::string& extraHeader);

// Whether HTTPS requests verify the peer now (see above).
bool HttpTlsVerifyEnabled();
