#pragma once

#include <cstddef>

namespace lc {

// calloc-like memory for large buffers that are streamed through: a buffer of a huge page
// (2 MiB) or more is its own zeroed mapping on huge-page boundaries, with transparent huge pages
// asked for, so walking it costs few page-table walks (nested ones under a virtual machine).
// Smaller buffers, and every buffer under AddressSanitizer (which guards heap blocks only), come
// from calloc. nullptr on failure or when count x size overflows. Any thread.
void *AllocateLargeZeroed(size_t count, size_t size);

// Frees what AllocateLargeZeroed gave; null is ignored.
void FreeLargeZeroed(void *p);

// Whether buffers of a huge page or more get their own mappings (false under AddressSanitizer).
bool LargeBuffersAreMapped();

} // namespace lc
