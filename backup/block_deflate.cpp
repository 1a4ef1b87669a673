#include "backup/block_deflate.h"

#include <zlib.h>

#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kLevel = 6;
constexpr int kMemLevel = 8;

// A raw deflate stream reset for every piece, so its few hundred KiB of state are
// allocated once per worker rather than once per piece.
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

// Idle streams, one per worker that has compressed. Not thread_local: with mingw's
// emulated TLS a thread-local object's destructor can run after its storage is gone,
// which crashed the Windows program when a worker thread ended.
class CompressorPool {
public:
    std::unique_ptr<Compressor> Take() {
        std::lock_guard<std::mutex> hold(lock_);
        if (idle_.empty()) return std::make_unique<Compressor>();
        std::unique_ptr<Compressor> c = std::move(idle_.back());
        idle_.pop_back();
        return c;
    }
    void Give(std::unique_ptr<Compressor> c) {
        std::lock_guard<std::mutex> hold(lock_);
        idle_.push_back(std::move(c));
    }

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<Compressor>> idle_;
};

CompressorPool& Pool() {
    static CompressorPool pool;
    return pool;
}

}  // namespace

bool DeflateBlock(const unsigned char* dict, size_t dictLen, const unsigned char* data, size_t len,
                  bool last, std::vector<unsigned char>* out) {
    std::unique_ptr<Compressor> compressor = Pool().Take();
    const bool ok = compressor->Run(dict, dictLen, data, len, last, out);
    Pool().Give(std::move(compressor));
    return ok;
}
