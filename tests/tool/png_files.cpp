#include "png_files.h"

#include <cstdio>
#include <memory>

namespace tooltest {

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The setjmp functions below hold only plain pointers, so libpng's longjmp
// skips no destructor.
bool WriteRows(png_structp png, png_infop info, std::FILE *file, const RawPng *raw, png_bytep *rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, raw->width, raw->height, raw->bitDepth, raw->colorType,
                 raw->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!raw->palette.empty())
        png_set_PLTE(png, info, raw->palette.data(), static_cast<int>(raw->palette.size()));
    if (!raw->paletteAlpha.empty())
        png_set_tRNS(png, info, raw->paletteAlpha.data(), static_cast<int>(raw->paletteAlpha.size()), nullptr);
    if (raw->hasTransparentColour) png_set_tRNS(png, info, nullptr, 0, &raw->transparentColour);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

bool ReadRows(png_structp png, png_infop info, std::FILE *file, DecodedPng *out, std::vector<uint8_t> *bytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    out->colorType = png_get_color_type(png, info);
    out->bitDepth = png_get_bit_depth(png, info);
    out->interlace = png_get_interlace_type(png, info);
    if (out->colorType != PNG_COLOR_TYPE_RGB_ALPHA || out->bitDepth != 8 || out->interlace != PNG_INTERLACE_NONE ||
        static_cast<uint64_t>(out->width) * out->height > 4096u * 4096u)
        return true;
    size_t rowBytes = static_cast<size_t>(out->width) * 4;
    bytes->resize(rowBytes * out->height);
    png_bytep data = bytes->data();
    for (uint32_t y = 0; y < out->height; ++y) png_read_row(png, data + y * rowBytes, nullptr);
    png_read_end(png, nullptr);
    return true;
}

uint32_t Crc32(const uint8_t *data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

void PutU32(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data) {
    PutU32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutU32(out, Crc32(typed.data(), typed.size()));
}

}  // namespace

bool WriteRawPng(const std::string &path, const RawPng &raw) {
    if (raw.rows.size() != raw.height) return false;
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_bytep> rows;
    for (const auto &row : raw.rows) rows.push_back(const_cast<png_bytep>(row.data()));
    bool ok = info != nullptr && WriteRows(png, info, file.get(), &raw, rows.data());
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok;
}

bool WriteArgbPng(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint32_t> &pixels) {
    RawPng raw;
    raw.width = width;
    raw.height = height;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t p = pixels[y * width + x];
            row.insert(row.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p),
                                   static_cast<uint8_t>(p >> 24)});
        }
        raw.rows.push_back(row);
    }
    return WriteRawPng(path, raw);
}

bool ReadPngFile(const std::string &path, DecodedPng &out) {
    out = DecodedPng{};
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> bytes;
    bool ok = info != nullptr && ReadRows(png, info, file.get(), &out, &bytes);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (ok && !bytes.empty()) {
        for (size_t i = 0; i < static_cast<size_t>(out.width) * out.height; ++i) {
            const uint8_t *p = bytes.data() + 4 * i;
            out.pixels.push_back(uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
        }
    }
    return ok;
}

std::vector<uint8_t> HeaderOnlyPng(uint32_t width, uint32_t height) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutU32(ihdr, width);
    PutU32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, PNG_COLOR_TYPE_RGB_ALPHA, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    PutChunk(out, "IDAT", {});
    PutChunk(out, "IEND", {});
    return out;
}

}  // namespace tooltest
