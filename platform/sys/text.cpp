#include "platform/sys/text.h"

#include <cstdio>

namespace lc {

bool CopyText(char *dst, size_t cap, const char *src)
{
    if (!dst || cap == 0) {
        return false;
    }
    if (!src) {
        dst[0] = 0;
        return true;
    }
    size_t n = strnlen(src, cap);
    if (n >= cap) {
        std::memcpy(dst, src, cap - 1);
        dst[cap - 1] = 0;
        return false;
    }
    std::memcpy(dst, src, n + 1);
    return true;
}

bool AppendText(char *dst, size_t cap, const char *src)
{
    if (!dst || cap == 0) {
        return false;
    }
    size_t len = strnlen(dst, cap);
    if (len >= cap) {
        dst[cap - 1] = 0;
        return false;
    }
    return CopyText(dst + len, cap - len, src);
}

bool FormatTextV(char *dst, size_t cap, const char *fmt, va_list ap)
{
    if (!dst || cap == 0) {
        return false;
    }
    int n = std::vsnprintf(dst, cap, fmt, ap);
    return n >= 0 && size_t(n) < cap;
}

bool FormatText(char *dst, size_t cap, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    bool ok = FormatTextV(dst, cap, fmt, ap);
    va_end(ap);
    return ok;
}

} // namespace lc
