// KestSendAndRecv: property writes confirmed by the processor's echo. Each write clears the
// cached copy of the property, sends the new value and waits until the echo has arrived (the
// record's type byte is set again) or the timeout has passed on a monotonic clock. The wait
// sleeps until the link has taken in a configuration packet and then looks at the record
// again. Made on the stack for one call.
#pragma once

#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>

class KestCache;
class KestClient;

class KestSendAndRecv {
  public:
    // Sends through `client` and waits on `cache` (gKestClient and gKestCache when null).
    explicit KestSendAndRecv(KestClient* client = nullptr, KestCache* cache = nullptr,
                             unsigned timeoutMs = 1000);

    // Confirmed write of a whole property record. As many bytes are sent as the cache holds
    // for the property; false without sending when that size is unknown (0) or larger than
    // `capacity`. True when the echo arrived in time; `property` then holds the echoed record.
    bool SendKestProperty(void* property, std::size_t capacity, unsigned module, unsigned prop);
    template <typename Record>
    bool SendKestProperty(Record& record, unsigned module, unsigned prop) {
        return SendKestProperty(&record, sizeof record, module, prop);
    }

    // Confirmed writes of one value into a copy of the cached record (head 1, type, 0, 0;
    // the value at byte 4; the remaining bytes as cached). True only when the echo arrived
    // and carries the value asked for.
    bool SendBool(unsigned module, unsigned prop, bool value);
    bool SendInt(unsigned module, unsigned prop, std::int32_t value);
    // Sends the caller's combo box; true only when the echoed selection is the one asked for.
    // `box` then holds the echoed record.
    bool SendComboBox(KestComboBox& box, unsigned module, unsigned prop);

    // One sleep of the given time; 0 returns at once.
    static void SleepMs(unsigned ms);
    static void SleepUsec(std::uint64_t us);

    std::uint64_t GetTimeoutUsec() const { return timeoutUs_; }

  private:
    // Copies the cached record into `record` (kKestMaxRecordSize bytes) and sets its head.
    // Returns its size; 0 when unknown or shorter than `minimum`.
    std::size_t CopyCached(std::uint8_t* record, unsigned module, unsigned prop, std::uint8_t type,
                           std::size_t minimum);

    KestClient* client_;
    KestCache* cache_;
    std::uint64_t timeoutUs_;
};
