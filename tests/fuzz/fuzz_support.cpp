#include "fuzz_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zlfuzz {

namespace {

size_t PageBytes() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

unsigned char *MapReadWrite(size_t bytes) {
#if defined(_WIN32)
    return static_cast<unsigned char *>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
#endif
}

void ProtectNoAccess(unsigned char *page, size_t bytes) {
#if defined(_WIN32)
    DWORD old = 0;
    if (!VirtualProtect(page, bytes, PAGE_NOACCESS, &old)) std::abort();
#else
    if (mprotect(page, bytes, PROT_NONE) != 0) std::abort();
#endif
}

void Unmap(unsigned char *p, size_t bytes) {
#if defined(_WIN32)
    (void)bytes;
    VirtualFree(p, 0, MEM_RELEASE);
#else
    munmap(p, bytes);
#endif
}

}  // namespace

GuardedBuffer::GuardedBuffer(size_t bytes, bool lowFlush) : bytes_(bytes) {
    size_t page = PageBytes();
    size_t inner = (bytes + page - 1) / page * page;
    mappingBytes_ = inner + 2 * page;
    mapping_ = MapReadWrite(mappingBytes_);
    if (mapping_ == nullptr) std::abort();
    ProtectNoAccess(mapping_, page);
    ProtectNoAccess(mapping_ + page + inner, page);
    unsigned char *first = lowFlush ? mapping_ + page : mapping_ + page + inner - bytes;
    data_ = reinterpret_cast<uint32_t *>(first);
}

GuardedBuffer::~GuardedBuffer() { Unmap(mapping_, mappingBytes_); }

void GuardedBuffer::Revoke() {
    ProtectNoAccess(mapping_, mappingBytes_);
    revoked_ = true;
}

bool GuardedBuffer::Contains(const void *first, size_t bytes) const {
    uintptr_t begin = reinterpret_cast<uintptr_t>(data_);
    uintptr_t p = reinterpret_cast<uintptr_t>(first);
    return p >= begin && bytes <= bytes_ && p - begin <= bytes_ - bytes;
}

int32_t FuzzInput::Coordinate() {
    static const int32_t kEdges[] = {INT_MIN, INT_MIN + 1, -0x40000000, -65536, INT_MAX - 1, INT_MAX, 0x40000000, 65536};
    uint8_t kind = Byte();
    if (kind < 200) return static_cast<int32_t>(Byte() % 80) - 20;
    if (kind < 240) {
        uint32_t edge = static_cast<uint32_t>(kEdges[Byte() % (sizeof kEdges / sizeof kEdges[0])]);
        return static_cast<int32_t>(edge + static_cast<uint32_t>(Byte() % 5) - 2u);
    }
    return static_cast<int32_t>(Word());
}

void Fail(const char *file, int line, const char *what) {
    std::fprintf(stderr, "%s:%d: oracle check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace zlfuzz
