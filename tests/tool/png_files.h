// PNG files for the program's tests, written and read with libpng directly so
// that the tests do not depend on the program's own PNG code.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tooltest {

// A PNG as stored: rows already packed for the colour type and bit depth.
struct RawPng {
    uint32_t width = 0;
    uint32_t height = 0;
    int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_color> palette;
    std::vector<uint8_t> paletteAlpha;  // tRNS for palette images
    bool hasTransparentColour = false;  // tRNS for gray and RGB images
    png_color_16 transparentColour{};
};

bool WriteRawPng(const std::string &path, const RawPng &png);

// 8-bit RGBA from 0xAARRGGBB pixels.
bool WriteArgbPng(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint32_t> &pixels);

struct DecodedPng {
    uint32_t width = 0;
    uint32_t height = 0;
    int colorType = -1;
    int bitDepth = -1;
    int interlace = -1;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB; filled for 8-bit RGBA only
};

// Reads the header and, when the file is 8-bit non-interlaced RGBA, the
// pixels as stored, with no conversion. False when libpng rejects the file.
bool ReadPngFile(const std::string &path, DecodedPng &out);

// A file of the PNG signature, an IHDR chunk with the given size (8-bit
// RGBA), an empty IDAT and IEND: a valid header with no pixel data.
std::vector<uint8_t> HeaderOnlyPng(uint32_t width, uint32_t height);

}  // namespace tooltest
