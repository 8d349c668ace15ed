#include "stim/Split.h"

void split(const std::string& text, char separator, std::vector<std::string>& pieces) {
    std::string::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find(separator, start);
        if (end == std::string::npos) {
            pieces.emplace_back(text, start);
            return;
        }
        pieces.emplace_back(text, start, end - start);
        start = end + 1;
    }
}
