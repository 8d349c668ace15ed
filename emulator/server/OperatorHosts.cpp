#include "emulator/server/OperatorHosts.h"

#include <algorithm>
#include <stdexcept>

namespace paxsim {

OperatorHosts::OperatorHosts(const NetConfig& net, const std::vector<unsigned>& hosts,
                             const std::vector<unsigned>& wirelessHosts, const ModelConfig& model,
                             std::uint32_t settleTicks) {
    std::vector<std::string> nets;
    if (!net.wirelessOnly) {
        nets.push_back(net.wiredNet);
    }
    if (net.wirelessOnly || net.bothNets) {
        nets.push_back(net.wirelessNet);
    }
    auto add = [&](unsigned host, const std::vector<std::string>& on) {
        if (host < 128 || host > 254) {
            throw std::invalid_argument("paxsim: an operator's host part is 128 to 254");
        }
        Host entry;
        entry.host = host;
        for (const std::string& prefix : on) {
            std::string address = prefix + "." + std::to_string(host);
            if (Find(address) >= 0) {
                throw std::invalid_argument("paxsim: operator " + address + " named twice");
            }
            entry.addresses.push_back(address);
        }
        entry.model = std::make_unique<OperatorModel>(model, settleTicks);
        hosts_.push_back(std::move(entry));
    };
    for (unsigned host : hosts) {
        add(host, nets);
    }
    for (unsigned host : wirelessHosts) {
        add(host, {net.wirelessNet});
    }
}

int OperatorHosts::Find(const std::string& name) const {
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
        const Host& entry = hosts_[i];
        if (name == std::to_string(entry.host) ||
            std::find(entry.addresses.begin(), entry.addresses.end(), name) !=
                entry.addresses.end()) {
            return int(i);
        }
    }
    return -1;
}

} // namespace paxsim
