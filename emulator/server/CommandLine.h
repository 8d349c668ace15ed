// The paxsim program's command line.
#pragma once

#include "emulator/model/ModelConfig.h"
#include "emulator/model/ProcessorModel.h"
#include "emulator/server/Server.h"
#include "emulator/signal/DataGenerator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace paxsim {

struct CommandLine {
    ModelConfig model;
    DataConfig data;
    ServerOptions server;
    EchoMode echo = EchoMode::Normal;
    std::uint32_t echoDelayMs = 0;
    double seconds = 0;            // 0: until "quit" or a signal
    std::uint16_t controlPort = 0; // 0: no control channel
    std::string controlAddress = "127.0.0.1";
    bool help = false;
    bool quiet = false;
};

// Parses argv[1..]; the environment gives the network defaults. Throws
// std::invalid_argument with a message naming the bad option.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
const char* CommandLineUsage();

} // namespace paxsim
