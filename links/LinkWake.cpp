#include "links/LinkWake.h"

#include <algorithm>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Network {

namespace {

constexpr std::size_t kMostSockets = 4;

} // namespace

LinkWake::LinkWake(CircularKestBuffer& ring)
    : ring_(ring), fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    ring_.SetPublishSignal(fd_);
}

LinkWake::~LinkWake() {
    ring_.SetPublishSignal(-1);
    if (fd_ >= 0) {
        close(fd_);
    }
}

void LinkWake::AfterPass(bool sent, bool received, const int* sockets, std::size_t count,
                         Clock::duration idleWait) {
    const Clock::time_point now = Clock::now();
    if (sent) {
        answerUntil_ = now + kAnswerWindow;
    }
    if (received) {
        lastData_ = now;
    }
    if (sent || received) {
        return;
    }
    const bool gather = now >= answerUntil_ && now - lastData_ < kStreamingWindow;
    pollfd ready[1 + kMostSockets] = {{fd_, POLLIN, 0}};
    count = gather ? 0 : std::min(count, kMostSockets);
    for (std::size_t i = 0; i < count; ++i) {
        ready[1 + i] = {sockets[i], POLLIN, 0};
    }
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        gather ? Clock::duration(kGatherTime) : std::min(idleWait, Clock::duration(kIdleWait)));
    const timespec limit{long(wait.count() / 1000000000), long(wait.count() % 1000000000)};
    if (ppoll(ready, 1 + count, &limit, nullptr) > 0 && (ready[0].revents & POLLIN)) {
        // Reading the counter resets it; the publishes it counted are sent next pass.
        std::uint64_t value = 0;
        while (read(fd_, &value, sizeof value) > 0) {
        }
    }
}

} // namespace Network
