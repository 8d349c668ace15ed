// The emulated recording operators of a server and where they listen. An operator named by
// its host part h listens at NET.h of every network the processor listens on; one named on
// the wireless network listens at WIRELESS.h only, so the same host part can stand for two
// operators. Each has its own model, and can be told to stop answering (it still accepts
// connections and reads what it is sent) or to drop its connections (it keeps listening,
// so a client can connect again).
#pragma once

#include "emulator/model/ModelConfig.h"
#include "emulator/model/OperatorModel.h"
#include "emulator/server/NetConfig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace paxsim {

class OperatorHosts {
  public:
    struct Host {
        unsigned host = 0;
        std::vector<std::string> addresses; // dotted addresses it listens at
        std::unique_ptr<OperatorModel> model;
        bool silent = false;
        bool dropRequested = false;
    };

    // Throws std::invalid_argument for a host part outside 128-254 or one named twice on
    // the same network.
    OperatorHosts(const NetConfig& net, const std::vector<unsigned>& hosts,
                  const std::vector<unsigned>& wirelessHosts, const ModelConfig& model,
                  std::uint32_t settleTicks);

    // The operator named by `name`: a host part ("130", the first operator with it) or a
    // dotted address it listens at ("127.0.43.130"); -1 when there is none.
    int Find(const std::string& name) const;
    Host& At(int index) { return hosts_[std::size_t(index)]; }
    std::size_t Size() const { return hosts_.size(); }

  private:
    std::vector<Host> hosts_;
};

} // namespace paxsim
