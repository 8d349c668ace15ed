// The stimulation calls without a connection: the pure encoders (header and control words,
// one biphasic pulse train with every refusal) work, every other call refuses.
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Result {
    int status;
    std::vector<std::uint32_t> words;
    std::string message;
};

Result Biphase(int capacity, int ampl, int action, double freq, double train, double phase,
               double delay) {
    std::vector<std::int32_t> words(16, 0x5A5A5A5A);
    testing::internal::CaptureStderr();
    const int status =
        kl_stim_biphase(words.data(), capacity, ampl, action, freq, train, phase, delay);
    Result result{status, {}, testing::internal::GetCapturedStderr()};
    for (int i = 0; i < std::max(status, 0); ++i) {
        result.words.push_back(std::uint32_t(words[std::size_t(i)]));
    }
    if (status < 0) {
        EXPECT_EQ(words[0], 0x5A5A5A5A) << "nothing written on a refusal";
    }
    return result;
}

} // namespace

TEST(StimEncoders, HeaderAndControlWords) {
    EXPECT_EQ(std::uint32_t(kl_stim_header_word(3, 3000, 10)), 0x30BB800Au);
    EXPECT_EQ(std::uint32_t(kl_stim_word(3, 20, 1, 1, 1, 0, 0)), 0x0003A094u);
    EXPECT_EQ(std::uint32_t(kl_stim_word(0x10001, 0xFF, 0, 0, 0, 0x21, 1)), 0x0001417Fu)
        << "every field masked to its width";
}

TEST(StimEncoders, BiphaseWorkedCases) {
    // 100 Hz for 100 ms, 0.2 ms phases at amplitude 10: header, cathodic 6 ticks, a two-tick
    // gap, anodic 6 ticks.
    Result r = Biphase(8, 10, 2, 100, 100, 0.2, 0);
    ASSERT_EQ(r.status, 4) << r.message;
    EXPECT_EQ(r.words,
              (std::vector<std::uint32_t>{0x2012C00Au, 0x0006200Au, 0x00020000u, 0x0006208Au}));

    // A delay of 100 µs (3 ticks) and 0.05 ms phases: a whole tick and 15 steps of the next,
    // the gap shortened so that the anodic lead-in starts 15 steps into its tick, then the
    // anodic remainder of 31 steps.
    r = Biphase(16, 5, 0, 50, 20, 0.05, 100);
    ASSERT_EQ(r.status, 7) << r.message;
    EXPECT_EQ(r.words, (std::vector<std::uint32_t>{std::uint32_t(kl_stim_header_word(0, 600, 1)),
                                                   0x00032000u, 0x00012005u, 0x00010F05u,
                                                   0x00010000u, 0x00012F85u, 0x00011F85u}));

    // A phase whose remainder rounds up to a whole tick keeps its anodic charge: the last
    // anodic word is a whole tick, never a delay of 32 cut to 0.
    r = Biphase(16, 7, 0, 100, 10, 0.0332, 0);
    ASSERT_GT(r.status, 0) << r.message;
    for (std::size_t i = 1; i < r.words.size(); ++i) {
        const std::uint32_t w = r.words[i];
        EXPECT_FALSE((w >> 16) == 1 && ((w >> 13) & 1) == 0 && ((w >> 8) & 0x1F) == 0 &&
                     (w & 0x7F) != 0)
            << "a one-tick word without current steps at word " << i;
    }
    std::uint32_t anodicSteps = 0;
    for (std::size_t i = 1; i < r.words.size(); ++i) {
        const std::uint32_t w = r.words[i];
        if ((w & 0x80) != 0) {
            anodicSteps += ((w >> 13) & 1) != 0 && ((w >> 8) & 0x1F) == 0 ? 32 * (w >> 16)
                           : ((w >> 13) & 1) != 0                         ? 32 - ((w >> 8) & 0x1F)
                                                                          : (w >> 8) & 0x1F;
        }
    }
    EXPECT_NEAR(anodicSteps, 33.2 / 1.0417, 1.0) << "the anodic phase keeps its length";
}

TEST(StimEncoders, BiphaseRefusals) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string bad = "kl_stim_biphase: frequency, train and phase must be positive "
                            "numbers, the delay a number from 0\n";
    EXPECT_EQ(Biphase(8, 10, 5, 100, 100, 0.2, 0).message, "ks_biphasic: invalid action.\n");
    EXPECT_EQ(Biphase(8, 10, 0x10000000, 100, 100, 0.2, 0).status, -1);
    EXPECT_EQ(Biphase(1, 10, 0, 100, 100, 0.2, 0).message, "failed to add control word\n");
    EXPECT_EQ(Biphase(2, 10, 0, 100, 100, 0.2, 50).message,
              "get_stim_array: ran of space in word array\n");
    for (double freq : {0.0, -5.0, nan}) {
        EXPECT_EQ(Biphase(8, 10, 0, freq, 100, 0.2, 0).message, bad);
    }
    EXPECT_EQ(Biphase(8, 10, 0, 100, 0, 0.2, 0).message, bad);
    EXPECT_EQ(Biphase(8, 10, 0, 100, nan, 0.2, 0).message, bad);
    EXPECT_EQ(Biphase(8, 10, 0, 100, 100, 0, 0).message, bad);
    EXPECT_EQ(Biphase(8, 10, 0, 100, 100, 0.2, -1).message, bad);
    for (int ampl : {-1, 128}) {
        EXPECT_EQ(Biphase(8, ampl, 0, 100, 100, 0.2, 0).message,
                  "kl_stim_biphase: amplitude must be from 0 through 127\n");
    }
    EXPECT_EQ(Biphase(8, 10, 0, 100, 100, 0.0015, 0).message,
              "kl_stim_biphase: a phase must last at least 2 us\n");
    const std::string field =
        "kl_stim_biphase: period, repeats, delay or phase does not fit its field\n";
    EXPECT_EQ(Biphase(8, 10, 0, 0.4, 100000, 0.2, 0).message, field) << "period above 65535";
    EXPECT_EQ(Biphase(8, 10, 0, 100, 50000, 0.2, 0).message, field) << "5000 repeats";
    EXPECT_EQ(Biphase(8, 10, 0, 100, 5, 0.2, 0).message, field) << "no whole repeat";
    EXPECT_EQ(Biphase(8, 10, 0, 1000, 100, 0.5, 0).message,
              "kl_stim_biphase: the pulse is longer than its period\n");
    EXPECT_EQ(kl_stim_biphase(nullptr, 8, 10, 0, 100, 100, 0.2, 0), KL_ERR_INVALID_PARAMETER);
}

TEST(StimEncoders, EveryOtherCallNeedsAConnection) {
    int value = 0;
    float options[KL_STIM_MAX_OPTIONS] = {};
    StimSeq_t seq{};
    KestStimCalib_t calib{};
    testing::internal::CaptureStdout();
    const std::vector<int> results = {kl_stim_enable(),
                                      kl_stim_enable_set(1),
                                      kl_stim_get_latency(),
                                      kl_stim_set_latency(0),
                                      kl_stim_get_res_options(0, options),
                                      kl_stim_get_exhaust_options(0, options),
                                      kl_stim_get_res(0, &value),
                                      kl_stim_set_res(0, 0),
                                      kl_stim_get_exhaust(0, &value),
                                      kl_stim_set_exhaust(0, 0),
                                      kl_stim_get_trigger_source(0, &value),
                                      kl_stim_set_trigger_source(0, 0),
                                      kl_stim_trigger(0),
                                      kl_stim_trigger_all(),
                                      kl_stim_seq(&seq, 1),
                                      kl_stim_calib_set(0, &calib),
                                      kl_stim_calib_start(0)};
    EXPECT_EQ(kl_stim_calib_get(0), nullptr);
    const std::string printed = testing::internal::GetCapturedStdout();
    for (int result : results) {
        EXPECT_EQ(result, KL_ERR_NOT_INITIALIZED);
    }
    EXPECT_EQ(printed, "kl_stim_enable: kestlib not initialized\n"
                       "kl_stim_enable_set: kestlib not initialized\n"
                       "kl_stim_get_latency: kestlib not initialized\n"
                       "kl_stim_set_latency: kestlib not initialized\n"
                       "kl_stim_get_res_options: kestlib not initialized\n"
                       "kl_stim_get_exhaust_options: kestlib not initialized\n"
                       "kl_stim_get_res: kestlib not initialized\n"
                       "kl_stim_set_res: kestlib not initialized\n"
                       "kl_stim_get_exhaust: kestlib not initialized\n"
                       "kl_stim_set_exhaust: kestlib not initialized\n"
                       "kl_stim_get_trigger_source: kestlib not initialized\n"
                       "kl_stim_set_trigger_source: kestlib not initialized\n"
                       "kl_stim_trigger: kestlib not initialized\n"
                       "kl_stim_trigger_all: kestlib not initialized\n"
                       "kl_stim_seq: kestlib not initialized\n"
                       "kl_stim_calib_set: kestlib not initialized\n"
                       "kl_stim_calib_start: kestlib not initialized\n"
                       "kl_stim_calib_get: kestlib not inititalized\n");
    EXPECT_EQ(kl_stim_calib_free(nullptr), KL_SUCCESS);
}
