// Reading and writing PNG files as straight-alpha 0xAARRGGBB pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zantrel {

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // row after row, width * height entries
};

// Largest image accepted, in pixels; bigger ones are refused before any
// pixel memory is allocated.
constexpr uint64_t kMaxImagePixels = 16384ull * 16384ull;

// Reads any PNG colour type and bit depth. On failure returns false and sets
// `reason` to a short phrase starting with "missing", "not a PNG", "damaged"
// or "too large". Damage that leaves the pixels whole (an ancillary chunk
// with a bad checksum, which is skipped) is reported as a warning on
// standard error, and the file is read.
bool ReadPng(const std::string &path, Image &image, std::string &reason);

// Writes an 8-bit RGBA PNG through OutputFile (output_file.h). On failure
// returns false and sets `reason`.
bool WritePng(const std::string &path, const Image &image, std::string &reason);

}  // namespace zantrel
