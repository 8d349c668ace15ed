#include "links/NetConfig.h"

#include <cctype>
#include <cstdlib>

namespace Network {

namespace {

// Reads a decimal number of 1 to 5 digits at `text`; advances it. False when none.
bool ReadNumber(const char*& text, unsigned long* value) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) {
        return false;
    }
    unsigned long number = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*text))) {
        if (++digits > 5) {
            return false;
        }
        number = number * 10 + unsigned(*text - '0');
        ++text;
    }
    *value = number;
    return true;
}

bool ValidPortBase(const char* text, std::uint16_t* port) {
    unsigned long value = 0;
    if (!ReadNumber(text, &value) || *text != '\0' || value < 1 || value > 65533) {
        return false;
    }
    *port = std::uint16_t(value);
    return true;
}

} // namespace

bool NetConfig::ValidNet(const char* text) {
    if (text == nullptr) {
        return false;
    }
    for (int part = 0; part < 3; ++part) {
        unsigned long value = 0;
        if (!ReadNumber(text, &value) || value > 255) {
            return false;
        }
        if (part < 2 && *text++ != '.') {
            return false;
        }
    }
    return *text == '\0';
}

bool NetConfig::FromEnvironment(NetConfig* config, std::string* error) {
    *config = NetConfig();
    NetConfig read;
    for (auto [name, field] :
         {std::pair<const char*, std::string*>{"KEST_WIRED_NET", &read.wiredNet},
          {"KEST_WIRELESS_NET", &read.wirelessNet}}) {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] == '\0') {
            continue;
        }
        if (!ValidNet(value)) {
            if (error != nullptr) {
                *error = std::string(name) + "=\"" + value + "\" is not a network a.b.c";
            }
            return false;
        }
        *field = value;
    }
    const char* base = std::getenv("KEST_PORT_BASE");
    if (base != nullptr && base[0] != '\0' && !ValidPortBase(base, &read.portBase)) {
        if (error != nullptr) {
            *error = std::string("KEST_PORT_BASE=\"") + base + "\" is not a port from 1 to 65533";
        }
        return false;
    }
    *config = read;
    return true;
}

std::string NetConfig::WiredOctets(unsigned count) const {
    std::string::size_type end = 0;
    for (unsigned dot = 0; dot < count; ++dot) {
        end = wiredNet.find('.', end == 0 ? 0 : end + 1);
        if (end == std::string::npos) {
            return wiredNet;
        }
    }
    return wiredNet.substr(0, end);
}

} // namespace Network
