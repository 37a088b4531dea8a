#include "png_io.h"

#include "output_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace zantrel {

namespace {

// libpng reports errors by longjmp back to the setjmp of the function that
// called it. Those functions (ReadHeader, ReadPixels, WriteStream) keep only
// plain pointers and integers, and the error handler keeps nothing, so the
// jump never skips a destructor. Objects with destructors live in their
// callers, which the jump does not leave.
struct PngErrorText {
    char text[160] = "";
    const char *warnAbout = nullptr;  // the file read, whose warnings are shown
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    auto *error = static_cast<PngErrorText *>(png_get_error_ptr(png));
    if (error != nullptr) std::snprintf(error->text, sizeof error->text, "%s", message != nullptr ? message : "");
    png_longjmp(png, 1);
}

// Warnings concern ancillary data that does not change the pixels, such as
// a chunk with a bad checksum, which is skipped: the reader is told and the
// file is read on, as libpng's own tools do.
void OnPngWarning(png_structp png, png_const_charp message) {
    auto *error = static_cast<PngErrorText *>(png_get_error_ptr(png));
    if (error == nullptr || error->warnAbout == nullptr) return;
    std::fprintf(stderr, "zantrel: %s: warning: %s\n", error->warnAbout, message != nullptr ? message : "");
}

std::string Damaged(const PngErrorText &error) {
    return error.text[0] != '\0' ? std::string("damaged (") + error.text + ")" : std::string("damaged");
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class PngReader {
public:
    explicit PngReader(PngErrorText *error) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, error, OnPngError, OnPngWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
    }
    ~PngReader() { png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr); }
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    bool Ok() const { return png_ != nullptr && info_ != nullptr; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

class PngWriter {
public:
    explicit PngWriter(PngErrorText *error) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnPngError, OnPngWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
    }
    ~PngWriter() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    bool Ok() const { return png_ != nullptr && info_ != nullptr; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// Reads the chunks up to the image data. Nothing is allocated for pixels yet,
// so the size can be judged before any large allocation.
bool ReadHeader(png_structp png, png_infop info, std::FILE *file, png_uint_32 *width, png_uint_32 *height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    // Our own pixel limit decides what is too large, not libpng's defaults.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    return true;
}

// Converts every colour type and depth to 8-bit R, G, B, A bytes and reads
// the rows. `*rowBytesOut` is what libpng would deliver per row: anything but
// width * 4 means the conversion did not give RGBA and nothing was read.
bool ReadPixels(png_structp png, png_infop info, png_bytep *rows, size_t expectedRowBytes, size_t *rowBytesOut) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_expand(png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // only applies when there is no alpha
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *rowBytesOut = png_get_rowbytes(png, info);
    if (*rowBytesOut != expectedRowBytes) return true;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

// Where the encoder's bytes go: a stream whose first write error is kept,
// so that the message names it ("No space left on device").
struct PngSink {
    std::FILE *file;
    int error;
};

void WriteToSink(png_structp png, png_bytep data, size_t length) {
    auto *sink = static_cast<PngSink *>(png_get_io_ptr(png));
    errno = 0;
    if (std::fwrite(data, 1, length, sink->file) != length) {
        sink->error = errno != 0 ? errno : EIO;
        png_error(png, "write error");
    }
}

void FlushNothing(png_structp) {}  // the output file flushes once, at the end

bool WriteStream(png_structp png, png_infop info, PngSink *sink, const uint32_t *pixels, png_uint_32 width,
                 png_uint_32 height, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, sink, WriteToSink, FlushNothing);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y) {
        const uint32_t *source = pixels + static_cast<size_t>(y) * width;
        for (png_uint_32 x = 0; x < width; ++x) {
            uint32_t p = source[x];
            row[4 * x + 0] = static_cast<png_byte>(p >> 16);
            row[4 * x + 1] = static_cast<png_byte>(p >> 8);
            row[4 * x + 2] = static_cast<png_byte>(p);
            row[4 * x + 3] = static_cast<png_byte>(p >> 24);
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

bool ReadPng(const std::string &path, Image &image, std::string &reason) {
    errno = 0;
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        reason = "missing (" + ErrnoText(errno) + ")";
        return false;
    }
    png_byte signature[8] = {};
    size_t got = std::fread(signature, 1, sizeof signature, file.get());
    if (got != sizeof signature && std::ferror(file.get())) {
        reason = "missing (cannot read: " + ErrnoText(errno) + ")";
        return false;
    }
    if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        reason = "not a PNG";
        return false;
    }

    PngErrorText error;
    error.warnAbout = path.c_str();
    PngReader reader(&error);
    if (!reader.Ok()) {
        reason = "cannot start the PNG decoder";
        return false;
    }
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!ReadHeader(reader.Png(), reader.Info(), file.get(), &width, &height)) {
        reason = Damaged(error);
        return false;
    }
    uint64_t pixelCount = static_cast<uint64_t>(width) * height;
    if (width == 0 || height == 0) {
        reason = "damaged (empty image)";
        return false;
    }
    if (pixelCount > kMaxImagePixels || width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max() / 4) ||
        height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        pixelCount > std::numeric_limits<size_t>::max() / sizeof(uint32_t)) {
        reason = "too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
        return false;
    }

    std::vector<uint32_t> pixels;
    std::vector<png_bytep> rows;
    try {
        pixels.resize(static_cast<size_t>(pixelCount));
        rows.resize(height);
    } catch (const std::bad_alloc &) {
        reason = "too large (out of memory for " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels)";
        return false;
    }
    auto *bytes = reinterpret_cast<png_bytep>(pixels.data());
    size_t rowBytes = static_cast<size_t>(width) * 4;
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = bytes + y * rowBytes;

    size_t deliveredRowBytes = 0;
    if (!ReadPixels(reader.Png(), reader.Info(), rows.data(), rowBytes, &deliveredRowBytes)) {
        reason = Damaged(error);
        return false;
    }
    if (deliveredRowBytes != rowBytes) {
        reason = "damaged (unsupported pixel format)";
        return false;
    }

    // R, G, B, A bytes to 0xAARRGGBB in place, whatever the host byte order.
    for (size_t i = 0; i < pixels.size(); ++i) {
        const png_byte *p = bytes + 4 * i;
        pixels[i] = static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[0]) << 16 |
                    static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]);
    }
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.pixels = std::move(pixels);
    return true;
}

bool WritePng(const std::string &path, const Image &image, std::string &reason) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
        reason = "no image to write";
        return false;
    }
    std::vector<png_byte> row;
    try {
        row.resize(static_cast<size_t>(image.width) * 4);
    } catch (const std::bad_alloc &) {
        reason = "out of memory";
        return false;
    }
    return WriteOutputFile(
        path,
        [&](std::FILE *file, std::string &why) {
            PngErrorText error;
            PngWriter writer(&error);
            PngSink sink{file, 0};
            if (!writer.Ok()) {
                why = "cannot start the PNG encoder";
                return false;
            }
            if (WriteStream(writer.Png(), writer.Info(), &sink, image.pixels.data(),
                            static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
                            row.data()))
                return true;
            why = "cannot write (" +
                  (sink.error != 0 ? ErrnoText(sink.error) : error.text[0] != '\0' ? error.text : "PNG error") + ")";
            return false;
        },
        reason);
}

}  // namespace zantrel
