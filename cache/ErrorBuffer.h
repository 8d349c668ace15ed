// The queue of processor error messages: bounded, without duplicates, newest out first.
#pragma once

#include "cache/ErrorMessage.h"
#include "include/kestlib.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>

class ErrorBuffer {
  public:
    static constexpr std::size_t kCapacity = 1024;

    ErrorBuffer() = default;
    ErrorBuffer(const ErrorBuffer&) = delete;
    ErrorBuffer& operator=(const ErrorBuffer&) = delete;

    // Queues a copy of message unless it is null or a message with the same UID is
    // queued already. A full queue first drops its oldest message, and with it that
    // message's UID, so the same message can be queued again later. Returns whether a
    // copy was queued.
    bool Push(const KestErrorMessage_t* message);
    // Takes the newest message out; the caller owns it (FreeErrorMessage). Null
    // when the queue is empty.
    KestErrorMessage_t* Pop();
    std::size_t Size() const;
    bool HaveUID(std::uint32_t uid) const;

  private:
    struct MessageDeleter {
        void operator()(KestErrorMessage_t* message) const { FreeErrorMessage(message); }
    };
    using OwnedMessage = std::unique_ptr<KestErrorMessage_t, MessageDeleter>;

    std::deque<OwnedMessage> queue_;
    std::set<std::uint32_t> uids_; // one per queued message: duplicates are never queued
    mutable std::mutex lock_;
};
