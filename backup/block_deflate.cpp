#include "backup/block_deflate.h"

#include <zlib.h>

#include <memory>

namespace {

constexpr int kLevel = 6;
constexpr int kMemLevel = 8;

// A raw deflate stream kept for the thread's life and reset for every piece, so its
// few hundred KiB of state are allocated once per worker.
class Compressor {
public:
    Compressor() {
        ok_ = deflateInit2(&strm_, kLevel, Z_DEFLATED, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY) ==
              Z_OK;
    }
    ~Compressor() {
        if (ok_) deflateEnd(&strm_);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    bool Run(const unsigned char* dict, size_t dictLen, const unsigned char* data, size_t len,
             bool last, std::vector<unsigned char>* out) {
        if (!ok_ || deflateReset(&strm_) != Z_OK) return false;
        if (dictLen > 0 && deflateSetDictionary(&strm_, dict, static_cast<uInt>(dictLen)) != Z_OK) {
            return false;
        }
        // The bound covers a finished stream; a sync flush adds at most a few bytes.
        out->resize(deflateBound(&strm_, static_cast<uLong>(len)) + 16);
        strm_.next_in = const_cast<unsigned char*>(data);
        strm_.avail_in = static_cast<uInt>(len);
        size_t used = 0;
        const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            strm_.next_out = out->data() + used;
            strm_.avail_out = static_cast<uInt>(out->size() - used);
            int rc = deflate(&strm_, flush);
            used = out->size() - strm_.avail_out;
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
            if (strm_.avail_out != 0) {
                // A flushed piece is complete; a finished one must have ended above.
                if (last) return false;
                break;
            }
            if (strm_.avail_out == 0) out->resize(out->size() * 2);
        }
        out->resize(used);
        return true;
    }

private:
    z_stream strm_{};
    bool ok_ = false;
};

}  // namespace

bool DeflateBlock(const unsigned char* dict, size_t dictLen, const unsigned char* data, size_t len,
                  bool last, std::vector<unsigned char>* out) {
    thread_local std::unique_ptr<Compressor> compressor;
    if (!compressor) compressor.reset(new Compressor());
    return compressor->Run(dict, dictLen, data, len, last, out);
}
