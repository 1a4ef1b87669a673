// Conversions between the system code page ("ANSI"), UTF-8 and wide text.
#pragma once

#include <string>

namespace platform {

enum class CodePage { Ansi, Utf8 };

// Both return an empty text when the conversion yields nothing. Characters the
// target code page cannot hold become its default character ("?").
std::wstring ToWide(const std::string& text, CodePage from);
std::string FromWide(const std::wstring& text, CodePage to);

// Name of the system code page, e.g. "GBK" or "UTF-8".
std::string AnsiCodeSetName();

}  // namespace platform
