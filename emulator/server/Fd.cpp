#include "emulator/server/Fd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace paxsim {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

void Fd::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) {
        throw std::invalid_argument("paxsim: bad IPv4 address '" + address + "'");
    }
    return out;
}

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

bool SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

namespace {

[[noreturn]] void Fail(const char* what, const sockaddr_in& address) {
    throw std::runtime_error(std::string("paxsim: ") + what + " " + AddressText(address) + ": " +
                             std::strerror(errno));
}

} // namespace

Fd BindUdp(const sockaddr_in& address, int bufferBytes) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!fd.IsOpen()) {
        Fail("cannot create a UDP socket for", address);
    }
    int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    if (!SetNonBlocking(fd.Get())) {
        Fail("cannot make non-blocking the UDP socket of", address);
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Fail("cannot bind UDP", address);
    }
    return fd;
}

Fd ListenTcp(const sockaddr_in& address) {
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    if (!fd.IsOpen()) {
        Fail("cannot create a TCP socket for", address);
    }
    int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!SetNonBlocking(fd.Get())) {
        Fail("cannot make non-blocking the TCP socket of", address);
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Fail("cannot bind TCP", address);
    }
    if (::listen(fd.Get(), 16) != 0) {
        Fail("cannot listen on", address);
    }
    return fd;
}

} // namespace paxsim
