#include "platform/sys/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace lc {

void DebugTrace(const char *fmt, ...)
{
    static const bool enabled = std::getenv("LOOMCUT_TRACE") != nullptr;
    if (!enabled) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

} // namespace lc
