// Waiting for the processor's configuration packets: a confirmed write sleeps until an
// intake has taken one in, instead of polling the cache.
//
// The link thread counts the intake first and then looks for waiters; a waiter counts itself
// first and then looks at the count, both sequentially consistent, so one of the two always
// sees the other. The link thread takes the arrival mutex only when someone waits, and only
// for as long as a waiter needs to look at the count.
#include "cache/KestCache.h"

void KestCache::ConfigArrived() {
    configArrivals_.fetch_add(1);
    if (configWaiters_.load() == 0) {
        return;
    }
    {
        // A waiter between its look at the count and its sleep holds this mutex: taking it
        // here means the notification cannot fall between the two.
        std::lock_guard<std::mutex> hold(arrivalMutex_);
    }
    arrival_.notify_all();
}

bool KestCache::WaitForConfig(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
    configWaiters_.fetch_add(1);
    bool moved;
    {
        std::unique_lock<std::mutex> hold(arrivalMutex_);
        moved = arrival_.wait_until(hold, deadline, [&] { return configArrivals_.load() != seen; });
    }
    configWaiters_.fetch_sub(1);
    return moved;
}
