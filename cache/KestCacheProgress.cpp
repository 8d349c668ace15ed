// Counts of the handshake's progress: what the start-up handshake looks at between two
// polls, taken without building module lists.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"

KestCacheProgress KestCache::GetProgress() const {
    std::lock_guard<std::mutex> hold(lock_);
    KestCacheProgress progress;
    progress.complete = HavePropertiesUnlocked();
    progress.modules = modules_.size();
    for (const auto& [id, entry] : modules_) {
        if (!entry.store->HaveProperties()) {
            ++progress.incomplete;
        }
        progress.properties += entry.store->GetReceivedCount();
    }
    return progress;
}
