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
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state != kPending) {
                return;
            }
            m_state = ok ? kUp : kFailed;
        }
        m_changed.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state != kPending; });
        return m_state == kUp;
    }
    void Rearm() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = kPending;
    }

  private:
    enum State { kPending, kUp, kFailed };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = kPending;
};

} // namespace Network
