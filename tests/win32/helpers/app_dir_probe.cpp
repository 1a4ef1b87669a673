// Writes the program directory as GetAppDir gives it into "appdir.txt" there.
#include <cstdio>

#include "core/text.h"

int main() {
    std::string dir = GetAppDir();
    FILE* f = fopen(JoinPath(dir, "appdir.txt").c_str(), "wb");
    if (!f) return 1;
    fputs(dir.c_str(), f);
    fclose(f);
    return 0;
}
