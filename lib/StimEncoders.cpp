// Pure stimulation encoders: the sequence header word, the control word and one biphasic
// pulse train. They need no connection.
#include "include/kestlib.h"

#include "stim/StimControlWord.h"
#include "stim/StimParamManager.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMaxAction = 4;
constexpr int kMaxAmplitude = 127;
constexpr double kTicksPerSecond = 30000.0;
constexpr double kMinPhaseUs = 2.0;
constexpr std::int64_t kMaxLength = 0xFFFF;
constexpr std::int64_t kMaxRepeats = 0xFFF;

struct PulseWord {
    std::int64_t length;
    bool pol;
    bool enable;
    std::int64_t delay;
    bool current; // carries the amplitude
};

// One biphasic pulse (cathodic first, then anodic, each `P` µs) after a delay of
// `delayUs`, in the words of the control word format. A phase's part beyond whole ticks
// becomes a one-tick word that carries current for its first steps; rounding that reaches a
// whole tick becomes one more whole tick.
std::vector<PulseWord> BiphasicPulse(double P, double delayUs) {
    const double S = kStimTickUs;
    const double Q = kStimStepUs;
    const double G0 = kStimInterphaseUs;
    std::vector<PulseWord> words;
    const std::int64_t delayTicks = std::int64_t(std::floor(delayUs / S));
    if (delayTicks > 0) {
        words.push_back({delayTicks, false, true, 0, false});
    }
    std::int64_t k = 0;
    if (P < S) {
        // A phase shorter than one tick fills the end of one tick, then a two-tick gap.
        words.push_back({1, false, true, std::int64_t(std::floor((S - P) / Q + 0.5)), true});
        words.push_back({2, false, false, 0, false});
    } else {
        const std::int64_t n = std::int64_t(P / S);
        words.push_back({n, false, true, 0, true});
        const std::int64_t m = std::int64_t(std::floor(std::fmod(P, S) / Q));
        if (m > 0) {
            words.push_back({1, false, false, m, true});
        }
        // The cathodic remainder shortens the gap so that the anodic phase starts on time;
        // a whole-tick phase keeps the full interphase gap.
        const double G = m > 0 ? G0 - double(32 - m) * Q : G0;
        const std::int64_t a = std::int64_t(G / S);
        k = std::int64_t(std::floor(std::fmod(G, S) / Q));
        if (a > 0) {
            words.push_back({a, false, false, 0, false});
        }
    }
    double A = P;
    if (k > 0) {
        words.push_back({1, true, true, k, true});
        A -= double(32 - k) * Q;
    }
    std::int64_t w = std::int64_t(std::floor(A / S));
    std::int64_t f = std::int64_t(std::floor(0.5 + std::fmod(A, S) / Q));
    if (f < 0) {
        w -= 1;
        f += 32;
    }
    if (f >= 32) {
        w += 1;
        f -= 32;
    }
    if (w > 0) {
        words.push_back({w, true, true, 0, true});
    }
    if (f > 0) {
        words.push_back({1, true, false, f, true});
    }
    return words;
}

int Refuse(const char* text) {
    std::fprintf(stderr, "%s", text);
    return -1;
}

bool Positive(double value) {
    return std::isfinite(value) && value > 0;
}

} // namespace

extern "C" {

KL_API int32_t kl_stim_header_word(int action, int period, int repeats) noexcept {
    return int32_t((std::uint32_t(action) << 28) + ((std::uint32_t(period) & 0xFFFFu) << 12) +
                   (std::uint32_t(repeats) & 0xFFFu));
}

KL_API int32_t kl_stim_word(int length, int ampl, int pol, int enable, int ampSelect, int delay,
                            int fs) noexcept {
    return int32_t(StimControlWord(std::uint16_t(length), std::uint32_t(ampl), pol != 0,
                                   enable != 0, ampSelect != 0, std::uint32_t(delay), fs != 0)
                       .GetStimCmd());
}

KL_API int32_t kl_stim_biphase(int32_t* words, int capacity, int ampl, int action, double freq,
                               double train_ms, double phase_ms, double delay_us) noexcept {
    try {
        if (words == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (action < 0 || action > kMaxAction) {
            return Refuse("ks_biphasic: invalid action.\n");
        }
        if (capacity < 2) {
            return Refuse("failed to add control word\n");
        }
        if (!Positive(freq) || !Positive(train_ms) || !Positive(phase_ms) ||
            !(std::isfinite(delay_us) && delay_us >= 0)) {
            return Refuse("kl_stim_biphase: frequency, train and phase must be positive "
                          "numbers, the delay a number from 0\n");
        }
        if (ampl < 0 || ampl > kMaxAmplitude) {
            return Refuse("kl_stim_biphase: amplitude must be from 0 through 127\n");
        }
        const double P = phase_ms * 1000.0;
        if (P < kMinPhaseUs) {
            return Refuse("kl_stim_biphase: a phase must last at least 2 us\n");
        }
        const double periodTicks = std::floor(kTicksPerSecond / freq);
        const double repeats = std::floor(train_ms * freq * 0.001);
        const double delayTicks = std::floor(delay_us / kStimTickUs);
        if (periodTicks < 1 || periodTicks > double(kMaxLength) || repeats < 1 ||
            repeats > double(kMaxRepeats) || delayTicks > double(kMaxLength) ||
            P / kStimTickUs > double(kMaxLength)) {
            return Refuse("kl_stim_biphase: period, repeats, delay or phase does not fit its "
                          "field\n");
        }
        const std::vector<PulseWord> pulse = BiphasicPulse(P, delay_us);
        std::int64_t ticks = 0;
        for (const PulseWord& word : pulse) {
            ticks += word.length;
        }
        if (ticks > std::int64_t(periodTicks)) {
            return Refuse("kl_stim_biphase: the pulse is longer than its period\n");
        }
        if (pulse.size() + 1 > std::size_t(capacity)) {
            return Refuse("get_stim_array: ran of space in word array\n");
        }
        words[0] = kl_stim_header_word(action, int(periodTicks), int(repeats));
        int written = 1;
        for (const PulseWord& word : pulse) {
            words[written++] =
                kl_stim_word(int(word.length), word.current ? ampl : 0, word.pol ? 1 : 0,
                             word.enable ? 1 : 0, 0, int(word.delay), 0);
        }
        return written;
    } catch (...) {
        return -1;
    }
}

} // extern "C"
