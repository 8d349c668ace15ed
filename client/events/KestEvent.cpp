#include "client/events/KestEvent.h"

#include "client/KestClient.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>

KestEvent::KestEvent(KestClient* client) : client_(client) {}

KestEvent::~KestEvent() {
    Join();
    KestClient* client = nullptr;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        client = client_;
        client_ = nullptr;
    }
    if (client != nullptr && started_) {
        client->Detach(this);
    }
}

bool KestEvent::Start() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (started_ || client_ == nullptr) {
            return false;
        }
        started_ = true;
    }
    client_->Attach(this);
    running_.store(true);
    try {
        worker_ = std::thread([this] {
            try {
                Run();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "timed event failed: %s\n", error.what());
            } catch (...) {
                std::fprintf(stderr, "timed event failed\n");
            }
            running_.store(false);
        });
    } catch (const std::system_error& error) {
        // No thread: the event never runs, and the client need not wait for it.
        std::fprintf(stderr, "timed event not started: %s\n", error.what());
        running_.store(false);
        client_->Detach(this);
        return false;
    }
    return true;
}

void KestEvent::Cancel() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

bool KestEvent::IsCancelled() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return cancelled_;
}

void KestEvent::Join() {
    std::lock_guard<std::mutex> hold(joinMutex_);
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
        worker_.join();
    }
}

bool KestEvent::WaitFor(int ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (ms > 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        wake_.wait_until(hold, deadline, [this] { return cancelled_; });
    }
    return !cancelled_;
}

void KestEvent::CancelAndWait() {
    Cancel();
    Join();
}

void KestEvent::ClientGone() {
    std::lock_guard<std::mutex> hold(mutex_);
    client_ = nullptr;
}
