// Shared by the fuzz targets: guarded host buffers and an input reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zlfuzz {

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

private:
    unsigned char *mapping_ = nullptr;
    size_t mappingBytes_ = 0;
    uint32_t *data_ = nullptr;
    size_t bytes_ = 0;
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
