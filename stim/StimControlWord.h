// One 32-bit stimulation control word: a current level held for a number of clock ticks.
#pragma once

#include <cstdint>

// Bit layout, most significant first: length (16 bits, ticks), ampSelect, fast settle,
// enable, delay (5 bits, 1/32-tick steps), polarity, amplitude (7 bits).
class StimControlWord {
  public:
    StimControlWord() = default;
    // The argument order differs from the field order on purpose: it is the order in which
    // callers describe a word (how long, how strong, which way, then the flags).
    StimControlWord(std::uint16_t length, std::uint32_t ampl, bool pol, bool enable, bool ampSelect,
                    std::uint32_t delay, bool fs);

    // Back to a silent word with amplitude select on; the length is kept.
    void Reset();

    // The word as the processor reads it; delay and ampl are cut to their field widths.
    std::uint32_t GetStimCmd() const;

    std::uint16_t length = 0;
    bool ampSelect = false;
    bool fs = false;
    bool enable = false;
    std::uint32_t delay = 0;
    bool pol = false;
    std::uint32_t ampl = 0;
};

constexpr std::uint32_t kStimMaxDelay = 0x1F;
constexpr std::uint32_t kStimMaxAmpl = 0x7F;
