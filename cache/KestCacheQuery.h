// The helpers of KestCache's query files: the record cast and the lookups of a module and
// of an electrode's module, run with the lock held.
#pragma once

#include "cache/KestCache.h"
#include "cache/ModuleData.h"

#include <utility>

template <typename T, typename P> inline T* As(P* record) {
    return reinterpret_cast<T*>(const_cast<void*>(static_cast<const void*>(record)));
}

template <typename Getter>
inline auto KestCache::ModuleQuery(unsigned module, int* outModule, Getter get) {
    ModuleData* store = FindModule(module);
    using Result = decltype(get(*store));
    if (store == nullptr) {
        return Result{};
    }
    if (outModule != nullptr) {
        *outModule = int(module);
    }
    return get(*store);
}

// The common pattern of the electrode queries: the caller holds the cache lock and has
// looked up the electrode's module hw; get(store) runs on module hw + offset (1: the
// front end's processing module) after the module id is written. An unknown electrode
// or module leaves the outputs untouched and yields a null record.
template <typename Getter>
inline auto KestCache::ElectrodeQuery(int hw, int offset, int* outModule, Getter get) {
    using Result = decltype(get(std::declval<ModuleData&>()));
    if (hw < 0) {
        return Result{};
    }
    return ModuleQuery(unsigned(hw + offset), outModule, get);
}
