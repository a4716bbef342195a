#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstring>

namespace lc {

// Bounded copies into fixed text buffers. Each returns false when the text did not fit; the
// buffer then holds what fitted, always terminated.
bool CopyText(char *dst, size_t cap, const char *src);
bool AppendText(char *dst, size_t cap, const char *src);
bool FormatText(char *dst, size_t cap, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
bool FormatTextV(char *dst, size_t cap, const char *fmt, va_list ap);

template <size_t N> bool CopyText(char (&dst)[N], const char *src) { return CopyText(dst, N, src); }
template <size_t N> bool AppendText(char (&dst)[N], const char *src)
{
    return AppendText(dst, N, src);
}

} // namespace lc
