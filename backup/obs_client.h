// Object-storage client with the call shape of the storage SDK the program was built
// around: obs_initialize/obs_deinitialize once per process, init_obs_options and
// init_put_properties to start from defaults, put_object with properties, data and
// complete callbacks, obs_get_status_name for the log. Requests are signed with AWS
// Signature Version 4 by libcurl and carry the temporary credentials' security token,
// the payload's SHA-256 and its Content-MD5, so the store refuses a body that was
// damaged on the way.
#pragma once

#include <cstdint>

typedef enum {
    OBS_STATUS_OK = 0,
    // Failures on this side.
    OBS_STATUS_InternalError,
    OBS_STATUS_OutOfMemory,
    OBS_STATUS_InitCurlFailed,
    OBS_STATUS_InvalidParameter,
    OBS_STATUS_NameLookupError,
    OBS_STATUS_FailedToConnect,
    OBS_STATUS_ServerFailedVerification,
    OBS_STATUS_ConnectionFailed,
    OBS_STATUS_RequestTimeout,
    OBS_STATUS_AbortedByCallback,
    // Error codes the store answers with.
    OBS_STATUS_AccessDenied,
    OBS_STATUS_BadDigest,
    OBS_STATUS_EntityTooLarge,
    OBS_STATUS_ExpiredToken,
    OBS_STATUS_InvalidAccessKeyId,
    OBS_STATUS_InvalidArgument,
    OBS_STATUS_InvalidDigest,
    OBS_STATUS_InvalidRequest,
    OBS_STATUS_InvalidToken,
    OBS_STATUS_InvalidURI,
    OBS_STATUS_NoSuchBucket,
    OBS_STATUS_NoSuchKey,
    OBS_STATUS_RequestTimeTooSkewed,
    OBS_STATUS_SignatureDoesNotMatch,
    OBS_STATUS_XAmzContentSHA256Mismatch,
    OBS_STATUS_ServiceUnavailable,
    // An error status without a code this client knows.
    OBS_STATUS_HttpErrorBadRequest,
    OBS_STATUS_HttpErrorForbidden,
    OBS_STATUS_HttpErrorNotFound,
    OBS_STATUS_HttpErrorConflict,
    OBS_STATUS_HttpErrorUnknown,
    OBS_STATUS_BUTT
} obs_status;

typedef enum { OBS_PROTOCOL_HTTPS = 0, OBS_PROTOCOL_HTTP = 1 } obs_protocol;

// Virtual-host style puts the bucket in the host name (bucket.host/key), path style
// in the path (host/bucket/key).
typedef enum { OBS_URI_STYLE_VIRTUALHOST = 0, OBS_URI_STYLE_PATH = 1 } obs_uri_style;

#define OBS_INIT_ALL 0x3

typedef struct obs_bucket_context {
    const char* host_name;  // host[:port]
    const char* bucket_name;
    obs_protocol protocol;
    obs_uri_style uri_style;
    const char* access_key;
    const char* secret_access_key;
    const char* token;   // security token of temporary credentials; null or "" for none
    const char* region;  // signing region; null: "us-east-1"
} obs_bucket_context;

typedef struct obs_http_request_option {
    int connect_time;  // seconds to connect
    int speed_limit;   // bytes per second below which a transfer counts as stalled ...
    int speed_time;    // ... for this many seconds, and is given up
} obs_http_request_option;

typedef struct obs_options {
    obs_bucket_context bucket_options;
    obs_http_request_option request_options;
} obs_options;

typedef struct obs_put_properties {
    const char* content_type;  // null: none sent
    const char* md5;           // Content-MD5: base64 of the body's MD5; null: none sent
    // x-amz-content-sha256: hex SHA-256 of the body. Null sends "UNSIGNED-PAYLOAD",
    // which a verifying store refuses for a body.
    const char* content_sha256;
} obs_put_properties;

// Not offered: put_object must be given null.
typedef struct server_side_encryption_params server_side_encryption_params;

typedef struct obs_name_value {
    const char* name;
    const char* value;
} obs_name_value;

typedef struct obs_response_properties {
    const char* request_id;
    const char* content_type;
    uint64_t content_length;
    const char* server;
    const char* etag;
    const char* expiration;
    const char* website_redirect_location;
    const char* version_id;
    int64_t last_modified;  // seconds since the epoch; -1 when absent
    int meta_data_count;
    const obs_name_value* meta_data;  // x-amz-meta-NAME headers, NAME without the prefix
} obs_response_properties;

typedef struct obs_error_details {
    const char* message;   // the store's error message, or null
    const char* resource;  // the resource it names, or null
} obs_error_details;

typedef obs_status(obs_response_properties_callback)(const obs_response_properties* properties,
                                                     void* callback_data);
typedef void(obs_response_complete_callback)(obs_status status,
                                             const obs_error_details* error_details,
                                             void* callback_data);
// Fills up to buffer_size bytes; returns the count, or 0 at the end (a short body
// fails the upload), or a negative value to abort.
typedef int(obs_put_object_data_callback)(int buffer_size, char* buffer, void* callback_data);

typedef struct obs_response_handler {
    obs_response_properties_callback* properties_callback;
    obs_response_complete_callback* complete_callback;
} obs_response_handler;

typedef struct obs_put_object_handler {
    obs_response_handler response_handler;
    obs_put_object_data_callback* put_object_data_callback;
} obs_put_object_handler;

// Once at start and once at exit, from one thread while no request runs.
obs_status obs_initialize(int win32_flags);
void obs_deinitialize();

void init_obs_options(obs_options* options);
void init_put_properties(obs_put_properties* put_properties);

// Stores content_length bytes from the data callback under `key`. Blocks until done;
// the complete callback always runs once with the final status. The properties
// callback runs once a response arrived, before the complete callback.
void put_object(const obs_options* options, const char* key, uint64_t content_length,
                obs_put_properties* put_properties,
                server_side_encryption_params* encryption_params, obs_put_object_handler* handler,
                void* callback_data);

// "OK", "SignatureDoesNotMatch", ...; "Unknown" for a value out of range.
const char* obs_get_status_name(obs_status status);
