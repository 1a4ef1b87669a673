// The service's side of the object store (--s3, the verifying proxy in front of
// s3rver): temporary credentials registered with the proxy, presigned addresses, and
// the existence checks and deletions the backup catalogue makes. Every credential is
// good for one object and the methods named, until it expires.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "devservice/service_context.h"

namespace devservice {

struct StoreCredential {
    std::string access;
    std::string secret;
    std::string token;
    long long expiresAt = 0;  // seconds since the epoch
};

// Makes and registers a credential for `key` in the service's bucket. False when no
// store is configured or it could not be reached.
bool IssueStoreCredential(const ServiceContext& ctx, const std::string& key,
                          const std::vector<std::string>& methods, long long lifetimeSeconds,
                          StoreCredential* credential);

// A presigned address (AWS Signature Version 4, payload unsigned) for one request on
// `key`, valid for `expiresSeconds` from `now`.
std::string PresignStoreUrl(const ServiceContext& ctx, const StoreCredential& credential,
                            const std::string& method, const std::string& key,
                            long long expiresSeconds, std::time_t now);

enum class StoreAnswer { kPresent, kMissing, kFailed };

// Whether the object exists; on kPresent gives its ETag without quotes (the MD5 of a
// single-part upload) and size.
StoreAnswer StatStoreObject(const ServiceContext& ctx, const std::string& key, std::string* etag,
                            long long* size);
// Removes the object; a missing object counts as removed.
bool RemoveStoreObject(const ServiceContext& ctx, const std::string& key);

// AWS URI encoding: every byte but A-Z a-z 0-9 - _ . ~ (and "/" when kept) as %XX.
std::string AwsUriEncode(const std::string& text, bool keepSlash);

}  // namespace devservice
