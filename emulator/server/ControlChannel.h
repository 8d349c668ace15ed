// A line-based control channel for out-of-process users (scripts, Octave tests, demos):
// a TCP listener on a loopback address; each line is one command, each answer one line
// starting with "ok" or "error". The commands are listed in Help().
#pragma once

#include "emulator/server/Fd.h"
#include "emulator/server/Server.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace paxsim {

class ControlChannel {
  public:
    // onQuit runs (on the channel's thread) when a client sends "quit".
    ControlChannel(Server& server, std::function<void()> onQuit);
    ~ControlChannel();

    // Listens on address:port (address must be 127.x; port 0 picks a free one); throws
    // std::runtime_error or std::invalid_argument.
    void Start(const std::string& address, std::uint16_t port);
    void Stop();
    std::uint16_t Port() const { return port_; }

    // Runs one command line and returns the answer line (without newline).
    std::string Execute(const std::string& line);
    static const char* Help();

  private:
    void Run();

    Server& server_;
    std::function<void()> onQuit_;
    Fd listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

} // namespace paxsim
