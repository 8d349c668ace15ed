#include "emulator/server/NetConfig.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace paxsim {

void NetConfig::CheckNet(const std::string& net) {
    std::istringstream in(net);
    std::string part;
    int parts = 0;
    while (std::getline(in, part, '.')) {
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
            throw std::invalid_argument("paxsim: bad network prefix '" + net + "'");
        }
        ++parts;
    }
    if (parts != 3 || net.back() == '.') {
        throw std::invalid_argument("paxsim: a network prefix has three numbers, not '" + net +
                                    "'");
    }
}

NetConfig NetConfig::FromEnvironment() {
    NetConfig config;
    if (const char* wired = std::getenv("KEST_WIRED_NET")) {
        config.wiredNet = wired;
    }
    if (const char* wireless = std::getenv("KEST_WIRELESS_NET")) {
        config.wirelessNet = wireless;
    }
    if (const char* base = std::getenv("KEST_PORT_BASE")) {
        char* end = nullptr;
        long value = std::strtol(base, &end, 10);
        if (end == base || *end != '\0' || value < 1 || value > 65533) {
            throw std::invalid_argument("paxsim: bad KEST_PORT_BASE '" + std::string(base) + "'");
        }
        config.portBase = static_cast<std::uint16_t>(value);
    }
    CheckNet(config.wiredNet);
    CheckNet(config.wirelessNet);
    return config;
}

bool IsLoopbackNet(const std::string& net) {
    return net.rfind("127.", 0) == 0;
}

} // namespace paxsim
