// StartupGate: lets the thread that starts a link wait until the link's own thread has set
// up its sockets (or failed to), instead of reporting a start that did not happen.
#pragma once

#include <condition_variable>
#include <mutex>

namespace Network {

class StartupGate {
  public:
    // The first report wins; later ones are ignored.
    void Report(bool ok) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ != kPending) {
                return;
            }
            state_ = ok ? kUp : kFailed;
        }
        changed_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return state_ != kPending; });
        return state_ == kUp;
    }
    void Rearm() {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = kPending;
    }

  private:
    enum State { kPending, kUp, kFailed };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = kPending;
};

} // namespace Network
