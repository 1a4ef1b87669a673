// What the log may hold of bodies, addresses and credentials. Every log line that
// carries a request or reply body, an address that may be presigned, a header or a
// cookie goes through these, so tokens, secrets and passwords appear only as "***".
#pragma once

#include <cstddef>
#include <string>

// Longest body text a log line keeps; the rest is replaced by a note of its size. Bodies
// are logged whole for support: this holds an ordinary backup list or catalogue, while a
// reply of megabytes does not roll the log (kLogSizeLimit) over on every call.
constexpr size_t kLogBodyLimit = 64u << 10;

// Masks secret JSON members (tokens, secrets, security tokens, passwords and their
// digests, whatever their case or separators), the signature and credential parts of
// query strings, and bearer or security-token headers. Other text is left as it is,
// so the line still shows what happened.
std::string MaskSecrets(const std::string& text);

// MaskSecrets, then cut to kLogBodyLimit bytes followed by a note of the text's size:
// the form in which any body, address or header is written to the log.
std::string LogSafe(const std::string& text);

// The value of a cookie as the log shows it: "***" for the token cookies.
std::string LogCookieValue(const std::string& name, const std::string& value);
