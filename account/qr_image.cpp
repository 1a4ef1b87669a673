#include "account/qr_image.h"

#include <qrencode.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "core/log.h"
#include "platform/private_files.h"

namespace {

constexpr int kTargetSide = 200;
constexpr uint32_t kHeadersSize = 54;

void Put16(std::string* out, size_t at, uint16_t v) {
    (*out)[at] = static_cast<char>(v & 0xFF);
    (*out)[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string* out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct QrCodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

QrMatrix EncodeQr(const std::string& text) {
    QrMatrix m;
    std::unique_ptr<QRcode, QrCodeFree> code(
        text.empty() ? nullptr : QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!code) {
        WriteLog("NULL returned");
        return m;
    }
    m.width = code->width;
    m.modules.assign(code->data, code->data + static_cast<size_t>(code->width) * code->width);
    return m;
}

std::string QrBmpBytes(const QrMatrix& matrix) {
    const int n = matrix.width;
    if (n <= 0 || matrix.modules.size() < static_cast<size_t>(n) * n) return std::string();
    const int scale = static_cast<int>(std::lround(static_cast<double>(kTargetSide) / n));
    const int side = n * scale;
    const uint32_t stride = (static_cast<uint32_t>(side) * 3 + 3) & ~3u;
    const uint32_t fileSize = kHeadersSize + stride * static_cast<uint32_t>(side);

    std::string bmp(fileSize, '\xFF');
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put32(&bmp, 2, fileSize);
    Put16(&bmp, 6, 0);
    Put16(&bmp, 8, 0);
    Put32(&bmp, 10, kHeadersSize);
    Put32(&bmp, 14, 40);
    Put32(&bmp, 18, static_cast<uint32_t>(side));
    Put32(&bmp, 22, static_cast<uint32_t>(-side));  // negative height: rows top-down
    Put16(&bmp, 26, 1);
    Put16(&bmp, 28, 24);
    for (size_t at = 30; at < kHeadersSize; at += 4) Put32(&bmp, at, 0);

    for (int row = 0; row < n; ++row) {
        for (int col = 0; col < n; ++col) {
            if (!(matrix.modules[static_cast<size_t>(row) * n + col] & 1)) continue;
            for (int y = row * scale; y < (row + 1) * scale; ++y) {
                char* line = &bmp[kHeadersSize + stride * static_cast<uint32_t>(y)];
                std::fill(line + col * scale * 3, line + (col + 1) * scale * 3, '\0');
            }
        }
    }
    return bmp;
}

int WriteQrBmp(const QrMatrix& matrix, const std::string& path) {
    std::string bmp = QrBmpBytes(matrix);
    if (bmp.empty()) return -1;
    // Replaced whole: the window never loads half an image, and a cut write fails.
    return platform::WriteFileAtomic(path, bmp) ? 0 : -1;
}
