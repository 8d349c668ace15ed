// Arbitrary parameter texts through the parser, the validation and the word encoder. Beyond
// the sanitizers' checks, a train that validates must encode to words the processor plays as
// described: every word at least one tick long, a header with a period and a pulse count.
#include "stim/StimControlWord.h"
#include "stim/StimParamManager.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::FILE* QuietLog() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    return sink;
}

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Check(const std::string& text) {
    StimParamManager params(text, QuietLog());
    bool all = true;
    for (std::size_t i = 0; i < params.Size(); ++i) {
        bool valid = params.CheckEntry(i);
        all = all && valid;
        std::uint32_t header = params.GetPAXControlWord(i);
        auto words = params.GetPulseWords(i);
        auto encoded = params.GetStimCmd(i);
        Require(words.size() == encoded.size());
        (void)params.GetPeriod(i);
        (void)params.GetTrainLength(i);
        std::int32_t elec = params.GetElecID(i);
        if (!valid) {
            continue;
        }
        Require(elec >= 0 && elec < kStimParamMaxElect);
        Require((header >> 12) >= 1 && (header & 0xFFFu) >= 1);
        Require(!words.empty() && words.size() < 16);
        std::uint32_t ticks = 0;
        for (const auto& word : words) {
            Require(word.length >= 1 && word.delay <= kStimMaxDelay && word.ampl <= kStimMaxAmpl);
            ticks += word.length;
        }
        Require(ticks <= (header >> 12));
    }
    Require(all == params.IsValid());
    Require(params.GetElecList().size() == params.Size());
    (void)params.GetMaxTrainLength();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) {
        return 0;
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    Check(text);
    // The same input as changes to a playable train, so that mutated numbers reach the
    // encoder of valid trains and not only the parser.
    Check("Elect=1;TL=100;Freq=50;Dur=0.2;Amp=10;" + text);
    return 0;
}
