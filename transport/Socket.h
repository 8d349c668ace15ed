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
    explicit UniqueSocket(sock_t socket) : m_socket(socket) {}
    ~UniqueSocket() { CloseSocket(m_socket); }
    UniqueSocket(UniqueSocket&& other) noexcept : m_socket(other.Release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            CloseSocket(m_socket);
            m_socket = other.Release();
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    sock_t Get() const { return m_socket; }
    sock_t& Handle() { return m_socket; }
    bool IsOpen() const { return m_socket >= 0; }
    sock_t Release() {
        sock_t socket = m_socket;
        m_socket = kInvalidSocket;
        return socket;
    }
    void Close() { CloseSocket(m_socket); }

  private:
    sock_t m_socket = kInvalidSocket;
};

} // namespace net
