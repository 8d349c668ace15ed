// A socket descriptor that closes itself, and the few socket helpers the server needs.
#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace paxsim {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close();

  private:
    int fd_ = -1;
};

// IPv4 address text and port to a socket address; throws std::invalid_argument.
sockaddr_in MakeAddress(const std::string& address, std::uint16_t port);
std::string AddressText(const sockaddr_in& address);

// Non-blocking sockets bound to address:port; throw std::runtime_error with the reason.
Fd BindUdp(const sockaddr_in& address, int bufferBytes);
Fd ListenTcp(const sockaddr_in& address);
bool SetNonBlocking(int fd);

} // namespace paxsim
