// What the fault and hostile-input tests share: their own port bases (56000-57900, apart
// from every other live test), an emulated processor whose front ends send their 1 kS/s
// "lfp" stream only, and a reader that follows that stream the way a user reads it and
// sorts every sample into the processor's own value, a gap marker or something else.
#pragma once

#include "LinkTestEnv.h"

#include "cache/ZeroedArray.h"
#include "emulator/server/Server.h"
#include "emulator/signal/SignalModel.h"
#include "include/kestlib.h"

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace fault_test {

constexpr std::uint32_t kSeed = 3;
constexpr std::uint32_t kLfpPeriod = 30; // ticks between the samples of a 1 kS/s stream
constexpr float kCountScale = 0.25f;     // µV per count of a front end's 16-bit streams
constexpr float kGapMarker = -32768 * kCountScale;

// Sets this process's port base: `slot` 0-3 separate the binaries that may run side by side.
inline paxsim::NetConfig UseFaultNet(unsigned slot) {
    paxsim::NetConfig net;
    net.wiredNet = std::getenv("KEST_WIRED_NET");
    net.wirelessNet = std::getenv("KEST_WIRELESS_NET");
    net.portBase = static_cast<std::uint16_t>(56000 + (unsigned(getpid()) % 118) * 16 + slot * 4);
    setenv("KEST_PORT_BASE", std::to_string(net.portBase).c_str(), 1);
    return net;
}

// A processor with `frontEnds` recording front ends that send "lfp" and nothing else (no
// analog inputs, spikes or digital events), so every data packet is one lfp sample time of
// one front end.
inline std::unique_ptr<paxsim::Server>
StartLfpProcessor(const paxsim::NetConfig& net, paxsim::TransportMode mode, unsigned frontEnds) {
    paxsim::ServerOptions options;
    options.mode = mode;
    options.net = net;
    paxsim::DataConfig data;
    data.seed = kSeed;
    data.spikeRate = 0;
    data.digitalRate = 0;
    paxsim::ModelConfig model;
    model.analog1k = false;
    for (unsigned i = 0; i < frontEnds; ++i) {
        paxsim::FrontEndConfig frontEnd;
        frontEnd.kind = paxsim::FrontEndKind::Recording;
        frontEnd.raw = false;
        frontEnd.spk = false;
        model.frontEnds.push_back(frontEnd);
    }
    auto server = std::make_unique<paxsim::Server>(model, data, options);
    server->Start();
    return server;
}

inline float LfpSample(std::uint32_t electrode, std::uint32_t time) {
    const std::uint32_t key = paxsim::ChannelKey(electrode, paxsim::StreamOrdinal("lfp"));
    return kCountScale * float(paxsim::ContinuousSample(kSeed, key, time));
}

// Follows the lfp stream of one electrode: each Poll reads every sample from where the
// previous read ended up to the newest one.
class LfpFollower {
  public:
    explicit LfpFollower(std::uint32_t electrode) : electrode_(electrode), values_(4096) {}

    // One read; false when the newest sample could not be read (no connection, no data yet).
    bool Poll() {
        std::uint32_t newest = 0;
        float value = 0;
        if (kl_cont_lfp(&newest, &value, 1, &electrode_, 1, 0) != 1) {
            return false;
        }
        if (!started_) {
            started_ = true;
            next_ = newest;
        }
        if (std::int32_t(newest - next_) < 0) {
            return true; // nothing new
        }
        std::uint32_t count = (newest - next_) / kLfpPeriod + 1;
        if (count > values_.size()) {
            // The reader fell more than a ring's worth behind: those samples were not read.
            unread_ += count - values_.size();
            next_ += (count - std::uint32_t(values_.size())) * kLfpPeriod;
            count = std::uint32_t(values_.size());
        }
        std::uint32_t start = 0;
        const int got = kl_cont_lfp(&start, values_.data(), int(count), &electrode_, 1, next_);
        if (got != int(count) || start != next_) {
            unread_ += count;
        } else {
            for (std::uint32_t i = 0; i < count; ++i) {
                Sort(values_[i], next_ + i * kLfpPeriod);
            }
        }
        next_ += count * kLfpPeriod;
        return true;
    }

    // Time of the next sample the follower will read.
    std::uint32_t Next() const { return next_; }
    bool Started() const { return started_; }
    std::uint64_t Genuine() const { return genuine_; }
    std::uint64_t Markers() const { return markers_; }
    std::uint64_t Wrong() const { return wrong_; }
    std::uint64_t Unread() const { return unread_; }
    std::uint64_t LongestGap() const { return longestGap_; }
    std::string Describe() const {
        return "genuine " + std::to_string(genuine_) + ", markers " + std::to_string(markers_) +
               ", wrong " + std::to_string(wrong_) + " (first at " + std::to_string(firstWrong_) +
               "), unread " + std::to_string(unread_) + ", longest gap " +
               std::to_string(longestGap_);
    }

  private:
    void Sort(float value, std::uint32_t time) {
        if (value == kGapMarker) {
            ++markers_;
            ++gap_;
            longestGap_ = gap_ > longestGap_ ? gap_ : longestGap_;
            return;
        }
        gap_ = 0;
        if (value == LfpSample(electrode_, time)) {
            ++genuine_;
        } else {
            if (wrong_ == 0) {
                firstWrong_ = time;
            }
            ++wrong_;
        }
    }

    std::uint32_t electrode_;
    std::vector<float> values_;
    bool started_ = false;
    std::uint32_t next_ = 0;
    std::uint64_t genuine_ = 0, markers_ = 0, wrong_ = 0, unread_ = 0;
    std::uint64_t gap_ = 0, longestGap_ = 0;
    std::uint32_t firstWrong_ = 0;
};

// Memory this process has allocated and not freed, in kB: what the allocator hands out (its
// mapped blocks included) and the rings mapped on their own. Unlike resident memory it does
// not move with how many pages of a ring have been written yet, nor with what the allocator
// keeps for later.
inline long HeapInUseKb() {
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd + gZeroedArrayMappedBytes.load()) / 1024);
}

} // namespace fault_test
