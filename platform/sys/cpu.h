#pragma once

namespace lc {

// Instruction sets beyond SSE2 (which every x86-64 processor has), asked once.
bool CpuHasAvx2();

} // namespace lc
