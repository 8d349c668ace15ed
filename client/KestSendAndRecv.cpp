#include "client/KestSendAndRecv.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <ctime>

KestSendAndRecv::KestSendAndRecv(KestClient* client, KestCache* cache, unsigned timeoutMs)
    : client_(client != nullptr ? client : gKestClient),
      cache_(cache != nullptr ? cache : gKestCache), timeoutUs_(std::uint64_t(timeoutMs) * 1000) {}

void KestSendAndRecv::SleepUsec(std::uint64_t us) {
    if (us == 0) {
        return;
    }
    timespec wanted{};
    wanted.tv_sec = time_t(us / 1000000);
    wanted.tv_nsec = long(us % 1000000) * 1000;
    timespec rest{};
    while (nanosleep(&wanted, &rest) != 0 && errno == EINTR) {
        wanted = rest;
    }
}

void KestSendAndRecv::SleepMs(unsigned ms) {
    SleepUsec(std::uint64_t(ms) * 1000);
}

bool KestSendAndRecv::SendKestProperty(void* property, std::size_t capacity, unsigned module,
                                       unsigned prop) {
    if (client_ == nullptr || cache_ == nullptr || property == nullptr) {
        return false;
    }
    const std::size_t length = cache_->GetPropertySize(module, prop);
    KestProperty* cached = cache_->GetKestProperty(module, prop);
    // An unknown size would send an empty record and wait for an echo that cannot come.
    if (length == 0 || length > capacity || length > kKestMaxRecordSize || cached == nullptr) {
        return false;
    }
    cache_->ClearKestProperty(module, prop);
    if (client_->SendKestProperty(property, module, prop, length) != 1) {
        return false;
    }
    if (timeoutUs_ == 0) {
        return false;
    }
    // The wait is measured on the monotonic clock; between two looks at the record the
    // caller sleeps until the link has taken in a configuration packet from the processor
    // (the echo among them) or the deadline has come.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutUs_);
    for (;;) {
        // Read before the look, so that an echo taken in after the look still wakes the wait.
        const std::uint64_t seen = cache_->ConfigArrivals();
        {
            // The link thread rewrites the record in place; read it under the cache's lock.
            auto hold = cache_->GetLock();
            if (cached->type != kKestRecordCleared) {
                std::memcpy(property, cached, length);
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        cache_->WaitForConfig(seen, deadline);
    }
}

std::size_t KestSendAndRecv::CopyCached(std::uint8_t* record, unsigned module, unsigned prop,
                                        std::uint8_t type, std::size_t minimum) {
    if (cache_ == nullptr) {
        return 0;
    }
    const KestProperty* cached = cache_->GetKestProperty(module, prop);
    const std::size_t length = cache_->GetPropertySize(module, prop);
    if (cached == nullptr || length < minimum || length > kKestMaxRecordSize) {
        return 0;
    }
    {
        auto hold = cache_->GetLock();
        std::memcpy(record, cached, length);
    }
    record[0] = 1;
    record[1] = type;
    record[2] = 0;
    record[3] = 0;
    return length;
}

bool KestSendAndRecv::SendBool(unsigned module, unsigned prop, bool value) {
    alignas(4) std::uint8_t record[kKestMaxRecordSize] = {};
    if (CopyCached(record, module, prop, kKestBoolType, offsetof(KestBool, value) + 1) == 0) {
        return false;
    }
    const std::uint8_t wanted = value ? 1 : 0;
    record[offsetof(KestBool, value)] = wanted;
    return SendKestProperty(record, sizeof record, module, prop) &&
           record[offsetof(KestBool, value)] == wanted;
}

bool KestSendAndRecv::SendInt(unsigned module, unsigned prop, std::int32_t value) {
    alignas(4) std::uint8_t record[kKestMaxRecordSize] = {};
    if (CopyCached(record, module, prop, kKestIntegerType, sizeof(KestInteger)) == 0) {
        return false;
    }
    kest::StoreLe(record + offsetof(KestInteger, value), value);
    return SendKestProperty(record, sizeof record, module, prop) &&
           kest::LoadLe<std::int32_t>(record + offsetof(KestInteger, value)) == value;
}

bool KestSendAndRecv::SendComboBox(KestComboBox& box, unsigned module, unsigned prop) {
    const std::uint16_t wanted = box.selection;
    if (cache_ == nullptr ||
        cache_->GetPropertySize(module, prop) < offsetof(KestComboBox, selection) + 2) {
        return false;
    }
    return SendKestProperty(box, module, prop) && box.selection == wanted;
}
