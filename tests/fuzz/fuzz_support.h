// Shared by the fuzz targets: guarded host buffers and an input reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ZantrelLayer.h"
#include "../mix_hash.h"

namespace zlfuzz {

// 32-bit wrapping arithmetic and rectangles, as the library's own.
inline int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline bool Proper(const LayerRect &r) { return r.right > r.left && r.bottom > r.top; }
inline LayerRect Intersect(const LayerRect &a, const LayerRect &b) {
    return LayerRect{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                     a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}
inline bool SameRect(const LayerRect &a, const LayerRect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool RectHas(const LayerRect &r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

using zltest::Mix;

// Pixel memory with an inaccessible page on each side, so that a stray read
// or write faults even without a sanitizer. The pixels are placed flush
// against the upper guard (overruns fault at once) or, when lowFlush is set,
// right after the lower guard (underruns fault at once).
class GuardedBuffer {
public:
    GuardedBuffer(size_t bytes, bool lowFlush);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    uint32_t *data() const { return data_; }
    size_t bytes() const { return bytes_; }
    bool Contains(const void *first, size_t bytes) const;
    // The host has freed the pixels: every page becomes inaccessible but
    // stays reserved, so a stale address faults instead of reaching memory
    // that a later buffer reuses.
    void Revoke();
    bool Revoked() const { return revoked_; }

private:
    unsigned char *mapping_ = nullptr;
    size_t mappingBytes_ = 0;
    uint32_t *data_ = nullptr;
    size_t bytes_ = 0;
    bool revoked_ = false;
};

// Reads the fuzzer's bytes as a sequence of small decisions; past the end
// every read gives 0, so any input decodes to a finite call sequence.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    bool Bit() { return (Byte() & 1) != 0; }
    size_t Below(size_t n) { return n == 0 ? 0 : Byte() % n; }
    // A coordinate: mostly small, sometimes at the edges of the 32-bit range.
    int32_t Coordinate();

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// A failed oracle check: prints what differed and aborts, so that the fuzzer
// keeps the input and the replay test fails.
[[noreturn]] void Fail(const char *file, int line, const char *what);

}  // namespace zlfuzz

#define ZL_FUZZ_CHECK(cond)                                                  \
    do {                                                                     \
        if (!(cond)) ::zlfuzz::Fail(__FILE__, __LINE__, #cond);              \
    } while (0)
