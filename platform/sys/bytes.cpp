#include "platform/sys/bytes.h"

namespace lc {

std::string FourCCText(uint32_t code)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        char c = char(code >> (24 - 8 * i));
        s[size_t(i)] = (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

} // namespace lc
