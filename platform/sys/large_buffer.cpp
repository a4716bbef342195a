#include "platform/sys/large_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include <sys/mman.h>

namespace lc {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapBuffers = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapBuffers = false;
#else
constexpr bool kMapBuffers = true;
#endif
#else
constexpr bool kMapBuffers = true;
#endif

constexpr size_t kHugePage = size_t(2) << 20;

std::mutex gLock;
std::unordered_map<void *, size_t> &Mappings() // base -> length; guarded by gLock
{
    static auto *m = new std::unordered_map<void *, size_t>;
    return *m;
}

} // namespace

void *AllocateLargeZeroed(size_t count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    const size_t bytes = count * size;
    if (!kMapBuffers || bytes < kHugePage || bytes > SIZE_MAX - 2 * kHugePage) {
        return std::calloc(count, size);
    }
    // One huge page more than needed, and the unaligned ends given back.
    const size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t(kHugePage) - 1);
    const size_t head = aligned - start;
    if (head > 0) {
        munmap(raw, head);
    }
    munmap(reinterpret_cast<void *>(aligned + length), kHugePage - head);
    void *base = reinterpret_cast<void *>(aligned);
    // Without transparent huge pages the buffer works on small pages.
    madvise(base, length, MADV_HUGEPAGE);
    try {
        std::lock_guard<std::mutex> g(gLock);
        Mappings().emplace(base, length);
    } catch (...) {
        munmap(base, length);
        return nullptr;
    }
    return base;
}

void FreeLargeZeroed(void *p)
{
    if (!p) {
        return;
    }
    size_t length = 0;
    {
        std::lock_guard<std::mutex> g(gLock);
        auto it = Mappings().find(p);
        if (it != Mappings().end()) {
            length = it->second;
            Mappings().erase(it);
        }
    }
    if (length > 0) {
        munmap(p, length);
    } else {
        std::free(p);
    }
}

bool LargeBuffersAreMapped()
{
    return kMapBuffers;
}

} // namespace lc
