#pragma once

namespace lc {

// A printf-style diagnostic line, written to standard error only when LOOMCUT_TRACE is set.
void DebugTrace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace lc
