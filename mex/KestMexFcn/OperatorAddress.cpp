#include "mex/KestMexFcn/OperatorAddress.h"

#include <cmath>

namespace KestMexFcn {

bool IsOperatorAddress(const std::string& text) {
    int parts = 0;
    std::size_t at = 0;
    while (true) {
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + unsigned(text[at] - '0');
            ++digits;
            ++at;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return false;
        }
        ++parts;
        if (at == text.size()) {
            return parts <= 4;
        }
        if (text[at] != '.' || parts == 4) {
            return false;
        }
        ++at;
    }
}

std::optional<std::string> OperatorNumberText(double value) {
    if (!std::isfinite(value) || value < 0 || value > 255 || std::trunc(value) != value) {
        return std::nullopt;
    }
    return std::to_string(unsigned(value));
}

} // namespace KestMexFcn
