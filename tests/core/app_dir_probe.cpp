// Prints the program directory as the program sees it.
#include <cstdio>

#include "core/text.h"

int main() {
    std::printf("%s", GetAppDir().c_str());
    return 0;
}
