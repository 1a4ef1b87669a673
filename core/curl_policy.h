// The rules every libcurl request of the program follows, in one place: only HTTP and
// HTTPS, a few redirects at most and never from HTTPS down to HTTP, and the one TLS
// rule, and the end of every transfer once the program shuts down (core/shutdown.h).
// Every libcurl user applies them to each handle before it performs.
//
// TLS: certificates and host names are verified unless settings.json beside the
// program says "tlsVerify": false. "caFile" there names a PEM bundle of extra trusted
// authorities (a private test authority) while verification stays on.
#pragma once

#include <curl/curl.h>

#include <string>

// Redirects a handle follows at most, when its user lets it follow any.
constexpr long kMaxRedirects = 5;

// Sets `url` on the handle together with the rules above. 0, or the libcurl code of an
// option the library refused (then the handle must not perform; a log line says why).
// Once shutting down it refuses with CURLE_ABORTED_BY_CALLBACK. A user that sets its own
// CURLOPT_XFERINFOFUNCTION afterwards ends the transfer when ShuttingDown() is true.
int ApplyCurlPolicy(CURL* curl, const std::string& url);

// Whether HTTPS requests verify the peer now (see above).
bool HttpTlsVerifyEnabled();
