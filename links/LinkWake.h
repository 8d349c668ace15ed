// LinkWake: how a processor link's thread waits when a pass over its sockets found nothing.
//
// The thread sleeps in ppoll on an eventfd that every publish into the configuration ring
// signals, so a packet to send goes out at once, and on the link's sockets. While the
// processor streams and no answer is awaited it sleeps a short while on the eventfd alone,
// letting data gather so that one receive takes many packets instead of waking for each;
// for a while after each send it wakes for every arrival, since a confirmed write waits for
// its echo.
#pragma once

#include "transport/CircularKestBuffer.h"

#include <chrono>
#include <cstddef>

namespace Network {

class LinkWake {
  public:
    using Clock = std::chrono::steady_clock;

    // After a send the link answers at once for this long.
    static constexpr auto kAnswerWindow = std::chrono::milliseconds(5);
    // Data received this recently means the processor streams.
    static constexpr auto kStreamingWindow = std::chrono::milliseconds(1);
    // How long data gathers between receives while the processor streams.
    static constexpr auto kGatherTime = std::chrono::microseconds(200);
    // Longest wait while nothing happens; bounds how long a stop takes to be seen.
    static constexpr auto kIdleWait = std::chrono::milliseconds(5);

    // Signalled by every publish into `ring` until destroyed.
    explicit LinkWake(CircularKestBuffer& ring);
    ~LinkWake();
    LinkWake(const LinkWake&) = delete;
    LinkWake& operator=(const LinkWake&) = delete;

    // Called after every pass with whether it sent and whether it received anything. Returns
    // at once after such a pass; otherwise sleeps (see the file comment) until a publish, one
    // of the `count` sockets is readable, or the wait is over. `idleWait` bounds the sleep
    // when the link has other work that these sockets do not announce.
    void AfterPass(bool sent, bool received, const int* sockets, std::size_t count,
                   Clock::duration idleWait = kIdleWait);

  private:
    CircularKestBuffer& ring_;
    int fd_;
    Clock::time_point answerUntil_{};
    Clock::time_point lastData_{};
};

} // namespace Network
