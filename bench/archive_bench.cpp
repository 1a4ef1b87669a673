// Times ZipDirectory and UnzipTo alone, for looking into the backup benchmark's stages:
//   talvora_archive_bench pack FOLDER ARCHIVE | unpack ARCHIVE FOLDER
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "backup/zip_reader.h"
#include "backup/zip_writer.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "pack") != 0 && std::strcmp(argv[1], "unpack") != 0)) {
        std::fprintf(stderr,
                     "usage: talvora_archive_bench pack FOLDER ARCHIVE | unpack ARCHIVE FOLDER\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::strcmp(argv[1], "pack") == 0 ? ZipDirectory(argv[3], argv[2])
                                                     : UnzipTo(argv[2], argv[3]);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%s: %d in %.3f s\n", argv[1], rc, took.count());
    return rc == 0 ? 0 : 1;
}
