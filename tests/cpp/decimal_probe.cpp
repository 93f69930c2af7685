// Reads one amount text per line and prints what the amount reader makes of it, for
// decimal_differential.py to compare with Python's decimal module:
//   ok <scale> <text as read> <normalized text> <comparison with the previous accepted value: < = >>
//   err <message>
// The first accepted value is compared with zero.
#include <iostream>
#include <string>

#include "corvane_bo/core/decimal.hpp"

int main() {
    using corvane_bo_core::Decimal;
    std::ios::sync_with_stdio(false);
    Decimal previous;
    std::string line;
    std::string out;
    while (std::getline(std::cin, line)) {
        out.clear();
        const auto amount = corvane_bo_core::read_amount(line);
        if (!amount) {
            out.append("err ").append(amount.error());
        } else {
            const auto order = *amount <=> previous;
            out.append("ok ").append(std::to_string(amount->scale())).push_back(' ');
            amount->append_to(out);
            out.push_back(' ');
            amount->normalized().append_to(out);
            out.push_back(' ');
            out.push_back(order < 0 ? '<' : order > 0 ? '>' : '=');
            previous = *amount;
        }
        out.push_back('\n');
        std::cout << out;
    }
    return 0;
}
