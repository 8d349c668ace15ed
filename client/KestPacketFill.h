// Filling configuration packets in the sink. The caller holds the sink's write mutex and
// publishes afterwards.
#pragma once

#include "client/KestConfigSink.h"

#include <cstddef>
#include <cstdint>

// Reserves and fills one configuration packet carrying `length` record bytes (padding 0).
// False when the sink cannot take it.
bool KestPutRecord(KestConfigSink& sink, unsigned processor, unsigned module, unsigned prop,
                   const void* record, std::size_t length, std::uint32_t timestamp);

// Reserves and fills the stimulation sequence packet of one electrode: a word array of
// `count` 32-bit control words (count 1-248). False when the sink cannot take it.
bool KestPutSequence(KestConfigSink& sink, unsigned module, unsigned prop,
                     const std::uint32_t* words, std::size_t count);
