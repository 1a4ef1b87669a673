// The envelope of the service's JSON answers: "code", "message" and the OAuth-style
// "error" that signals an expired access token.
#pragma once

#include <json/json.h>

#include <functional>
#include <mutex>
#include <string>

// Parses a response body (ParseJson, default mode). False for an empty body or one that
// is not JSON within the reader's limits.
bool ParseReply(const std::string& body, Json::Value* root);

// "code" as an integer or as a string of digits (the sign-in answers use both).
// False when there is no code member of either kind. A string that is not a plain
// decimal number in its shortest form ("00" and "-0" are not), a number written with a
// fraction or exponent and any value outside int count as -1, so only the integer 0 or
// the text "0" is ever a success.
bool ReplyCode(const Json::Value& root, int* code);
// "message" when it is a string, else empty (UTF-8).
std::string ReplyMessage(const Json::Value& root);
// True when "error" is the string "invalid_token".
bool IsInvalidToken(const Json::Value& root);

// Renews the current sign-in's tokens (0 on success). The sign-in code installs it at
// start-up; without one an expired token is only a failure.
using TokenRenewal = std::function<int()>;
void SetTokenRenewal(TokenRenewal renew);

// The renewal rule for an "invalid_token" answer. Returns false when the answer is
// something else. Otherwise, when signed in, renews the tokens (SetTokenRenewal) and
// shows "连接异常,请重试" over the main window; returns true and the caller fails
// its operation with -1 (the user repeats it with the new token).
bool HandleInvalidToken(const Json::Value& root);

// "Authorization: Bearer <access token>" from g_config, taken under its lock.
std::string BearerHeader();
