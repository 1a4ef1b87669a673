// Leaves "marker.txt" beside itself, to show that it was started.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    char path[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string file(path, n);
    size_t cut = file.rfind('\\');
    if (cut == std::string::npos) return 1;
    file = file.substr(0, cut + 1) + "marker.txt";
    FILE* f = fopen(file.c_str(), "wb");
    if (!f) return 1;
    fputs("started", f);
    fclose(f);
    return 0;
}
