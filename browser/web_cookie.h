// Writing cookies into the program's browser profile.
#pragma once

#include <string>

// Stores one cookie for the host and port of `url` (an http or https address) in the
// profile's persistent store: path "/", expiring 11 April 2200, readable by scripts,
// secure for an https address. Any thread: the store is written on the UI thread, in
// call order and ahead of loads asked for later. Logs "set cookie url:%s, http_url:%s
// type:%s value:%s" with token values masked. Returns 0, or -1 (logged, nothing
// written) for an address without a host or not http or https.
int SetWebCookie(const std::string& url, const std::string& name, const std::string& value);
