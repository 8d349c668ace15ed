#include "cache/FilterKey.h"

#include <cctype>

std::string FilterKeyPrep(const std::string& name) {
    std::string key = name;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t cut = key.find(" filter");
    if (cut != std::string::npos)
        key.erase(cut);
    return key;
}
