#include "cache/ErrorBuffer.h"

#include "cache/ErrorMessage.h"

bool ErrorBuffer::Push(const KestErrorMessage_t* message) {
    if (!message)
        return false;
    const std::uint32_t uid = ErrorUid(message);
    OwnedMessage copy(CopyErrorMessage(message));
    if (!copy)
        return false;

    std::lock_guard<std::mutex> guard(lock_);
    if (uids_.count(uid))
        return false;
    if (queue_.size() >= kCapacity) {
        uids_.erase(ErrorUid(queue_.front().get()));
        queue_.pop_front();
    }
    queue_.push_back(std::move(copy));
    uids_.insert(uid);
    return true;
}

KestErrorMessage_t* ErrorBuffer::Pop() {
    std::lock_guard<std::mutex> guard(lock_);
    if (queue_.empty())
        return nullptr;
    OwnedMessage newest = std::move(queue_.back());
    queue_.pop_back();
    uids_.erase(ErrorUid(newest.get()));
    return newest.release();
}

std::size_t ErrorBuffer::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return queue_.size();
}

bool ErrorBuffer::HaveUID(std::uint32_t uid) const {
    std::lock_guard<std::mutex> guard(lock_);
    return uids_.count(uid) != 0;
}
