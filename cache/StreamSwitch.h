// What it takes to read and change whether a stream of an electrode is sent: the stream's
// descriptor fields and its enable switches, resolved under one hold of the cache lock.
#pragma once

#include <cstdint>

struct KestStreamSwitch {
    int module = -1;           // module that holds the stream and its switches
    int stream = -1;           // the stream's id in that module (the first of per-channel ones)
    std::uint8_t flags = 0;    // descriptor flags; kKestStreamUnavailableFlags: not available
    std::uint8_t dataKind = 0; // KestDataKind of the stream
    int index = -1;            // property index of the first switch, -1 when unresolved
    int count = 0;             // switches from index on (one per channel of the stream)
    int value = -1;            // the first switch's value (0 or 1), -1 when unresolved
};
