// Conversions between the system code page ("ANSI"), UTF-8 and wide text.
#pragma once

#include <string>

namespace platform {

// Gbk is code page 936 whatever the system's: the names in archives of the Windows
// program, which wrote its ANSI names on Chinese Windows.
enum class CodePage { Ansi, Utf8, Gbk };

// The code page of file names in this layer's calls: ANSI on Windows, the bytes on the
// disk (UTF-8) elsewhere.
#ifdef _WIN32
constexpr CodePage kFileNameCodePage = CodePage::Ansi;
#else
constexpr CodePage kFileNameCodePage = CodePage::Utf8;
#endif

// Both return an empty text when the conversion yields nothing. Characters the
// target code page cannot hold become its default character ("?").
std::wstring ToWide(const std::string& text, CodePage from);
std::string FromWide(const std::wstring& text, CodePage to);

// Name of the system code page, e.g. "GBK" or "UTF-8".
std::string AnsiCodeSetName();

}  // namespace platform
