// Raw deflate of one piece of a file, so that pieces compressed on different threads
// join into one valid deflate stream: a piece is primed with the 32 KiB before it and
// ends on a byte boundary (sync flush), only the last one ends the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Size of the pieces a large file is cut into, and of the dictionary before each.
constexpr size_t kDeflateBlock = 128 * 1024;
constexpr size_t kDeflateDictionary = 32 * 1024;

// Deflates `len` bytes at `data` at level 6 (window 15, memory level 8) after the
// `dictLen` bytes at `dict` into `out` (replaced). `last` finishes the stream. Uses one
// compressor per thread. False when zlib fails.
bool DeflateBlock(const unsigned char* dict, size_t dictLen, const unsigned char* data, size_t len,
                  bool last, std::vector<unsigned char>* out);
