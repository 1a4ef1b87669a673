// Inside the platform layer: the handler tests put in front of ShellOpen.
#pragma once

#include <string>

namespace platform {

// True when a handler took `target`; `*opened` is then its answer.
bool ShellOpenIntercepted(const std::string& target, bool* opened);

}  // namespace platform
