// Text forms, digests and base64 shared by every part of the program.
// "Ansi" is the system code page: GBK on Chinese Windows, the locale's code set here.
#pragma once

#include <string>

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string Utf8ToAnsi(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Directory of the running executable without a trailing separator; empty when the
// executable's path cannot be read.
std::string GetAppDir();
// Joins a directory and a name with the host's separator.
std::string JoinPath(const std::string& dir, const std::string& name);

// MD5 as 32 lower-case hexadecimal digits; FileMd5 gives "" for an unreadable file.
std::string FileMd5(const std::string& path);
std::string TextMd5(const std::string& bytes);

// Standard base64 on one line.
std::string Base64Encode(const std::string& bytes);
// Decodes base64; the result stops at the first zero byte of the decoded data.
std::string Base64Decode(const std::string& text);
// The encoder core: writes the text and a terminating zero into `out` (capacity + 1
// bytes). Returns the text's length, or -1 (logged) when it exceeds `capacity`.
int Base64EncodeInto(const std::string& bytes, char* out, size_t capacity);
