// Socket descriptors of the transport and a small owner that closes one on destruction.
#pragma once

namespace net {

// A POSIX descriptor; -1 when closed.
using sock_t = int;
constexpr sock_t kInvalidSocket = -1;

// Closes the descriptor (when open) and sets it to -1.
void CloseSocket(sock_t& socket);

// Owns one descriptor. The reference that Handle() gives lets the option helpers, which
// close a descriptor on failure and set it to -1, work on it in place.
class UniqueSocket {
  public:
    UniqueSocket() = default;
    explicit UniqueSocket(sock_t socket) : socket_(socket) {}
    ~UniqueSocket() { CloseSocket(socket_); }
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.Release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            CloseSocket(socket_);
            socket_ = other.Release();
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    sock_t Get() const { return socket_; }
    sock_t& Handle() { return socket_; }
    bool IsOpen() const { return socket_ >= 0; }
    sock_t Release() {
        sock_t socket = socket_;
        socket_ = kInvalidSocket;
        return socket;
    }
    void Close() { CloseSocket(socket_); }

  private:
    sock_t socket_ = kInvalidSocket;
};

} // namespace net
