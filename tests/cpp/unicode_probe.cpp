// Prints the UCD version of the tables, then one line with a flag per code point from U+0000 to
// U+10FFFF (bit 0: White_Space, bit 1: alphanumeric, written as the digit '0' + flags), for
// unicode_crosscheck.py.
#include <iostream>
#include <string>

#include "corvane_bo/core/unicode.hpp"

int main() {
    using namespace corvane_bo_core;
    std::string flags;
    flags.reserve(0x110000);
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        flags.push_back(static_cast<char>('0' + (is_white_space(cp) ? 1 : 0) + (is_alphanumeric(cp) ? 2 : 0)));
    }
    std::cout << unicode_version() << '\n' << flags << '\n';
    return 0;
}
