// The cache a link creates for its connection: the device cache plus the few lookups of
// the processor's own module that the start-up handshake and the restart need.
#pragma once

#include "cache/KestCache.h"
#include "cache/ModuleData.h"

namespace Network {
namespace OperNetwork {

class LinkCache : public KestCache {
  public:
    // Block count of the processor module's descriptor and the first property of its
    // processor-property block (-1 when that block has not arrived). False when the cache
    // has no processor module or no descriptor for it yet.
    bool ProcessorBlocks(unsigned* blockCount, int* processorBlockFirst);
    // Index of a named property of the processor module; -1 when unknown.
    int ProcessorPropId(ModuleData::Prop prop);
};

} // namespace OperNetwork
} // namespace Network
