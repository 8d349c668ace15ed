#include "links/LinkCache.h"

namespace Network {
namespace OperNetwork {

bool LinkCache::ProcessorBlocks(unsigned* blockCount, int* processorBlockFirst) {
    auto hold = GetLock();
    const ModuleData* store = FindModule(0);
    const KestModuleDesc* desc = store == nullptr ? nullptr : store->GetModuleDesc();
    if (desc == nullptr || desc->head.type != kKestModuleDescType) {
        return false;
    }
    *blockCount = desc->blockCount;
    const KestBlockDesc* block = store->GetProcessorPropertyBlockDesc();
    *processorBlockFirst = block == nullptr ? -1 : int(block->first);
    return true;
}

int LinkCache::ProcessorPropId(ModuleData::Prop prop) {
    auto hold = GetLock();
    const ModuleData* store = FindModule(0);
    return store == nullptr ? -1 : store->GetPropId(prop);
}

} // namespace OperNetwork
} // namespace Network
