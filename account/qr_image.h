// The QR code image: a libqrencode module matrix drawn into a 24-bit top-down BMP,
// 200 / n pixels per module (rounded), no quiet zone, rows padded to 4 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct QrMatrix {
    int width = 0;                 // modules per side; 0 when encoding failed
    std::vector<uint8_t> modules;  // width * width bytes, row by row; bit 0 = dark
};

// Encodes the text (8-bit mode, level M). Logs "NULL returned" and gives width 0
// when the encoder gives nothing, such as for an empty text.
QrMatrix EncodeQr(const std::string& text);
// The whole BMP file for a matrix; empty for width 0.
std::string QrBmpBytes(const QrMatrix& matrix);
// Writes the BMP file; 0 on success, -1 when nothing could be written.
int WriteQrBmp(const QrMatrix& matrix, const std::string& path);
