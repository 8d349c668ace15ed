// Produces the data packets of every switched-on output stream of the model, tick by
// tick: continuous samples at each stream's period, spikes on the per-channel spike
// streams, digital input events on module 34. Values follow SignalModel.
//
// Fault knobs: every Nth continuous packet flagged 0x0C, and sequence gaps on event
// streams (every Nth event packet skips some sequence numbers).
#pragma once

#include "emulator/model/ProcessorModel.h"
#include "emulator/signal/SignalModel.h"

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace paxsim {

struct DataConfig {
    std::uint32_t seed = 1;
    double spikeRate = 2.0;             // per channel and second; 0: no spikes
    double digitalRate = 1.0;           // digital input events per second; 0: none
    std::uint32_t flagEvery = 0;        // every Nth continuous packet flagged 0x0C; 0: never
    std::uint32_t sequenceGapEvery = 0; // every Nth event packet skips sequenceGapSize numbers
    std::uint32_t sequenceGapSize = 1;
};

struct DataCounters {
    std::uint64_t continuous = 0;
    std::uint64_t flagged = 0;
    std::uint64_t spikes = 0;
    std::uint64_t digital = 0;
};

class DataGenerator {
  public:
    DataGenerator(const ProcessorModel& model, DataConfig config);

    // Appends every packet whose sample time lies in [from, to) to out, in time order.
    void Generate(std::uint32_t from, std::uint32_t to, Outbox& out);
    // A digital input event with the given parallel value at the next generated tick.
    void InjectDigital(std::uint16_t parallel);
    // Starts over from processor time `start` (after a processor restart).
    void Restart(std::uint32_t start);

    DataConfig& Config() { return config_; }
    const DataCounters& Counters() const { return counters_; }

  private:
    struct ContinuousPlan {
        std::uint8_t module;
        std::uint8_t stream;
        std::uint8_t period;
        bool isFloat;
        std::uint16_t channels;
        std::uint32_t keys[32];
        bool enabled[32];
    };
    struct SpikePlan {
        std::uint8_t module;
        std::uint8_t stream;
        std::uint32_t electrode;
        SpikeTrain* train; // node of trains_, stable while the entry lives
    };

    void Refresh();
    void EmitContinuous(const ContinuousPlan& plan, std::uint32_t time, Outbox& out);
    void EmitSpike(const SpikePlan& plan, SpikeTrain& train, Outbox& out);
    void EmitDigital(std::uint32_t time, const DigitalEvent& event, std::uint8_t reason,
                     Outbox& out);
    std::uint16_t NextSequence(std::uint8_t module, std::uint8_t stream);

    const ProcessorModel& model_;
    DataConfig config_;
    std::vector<ContinuousPlan> continuous_;
    std::vector<SpikePlan> spikePlans_;
    std::map<std::uint32_t, SpikeTrain> trains_;       // by electrode
    std::map<std::uint32_t, std::uint16_t> sequences_; // module << 8 | stream
    std::uint8_t digitalStream_ = 0;
    std::uint32_t digitalIndex_ = 0;
    std::uint32_t start_ = 0;
    std::deque<std::uint16_t> injected_;
    std::uint64_t eventPackets_ = 0;
    std::uint64_t continuousPackets_ = 0;
    DataCounters counters_;
    double trainRate_ = -1;
    std::uint64_t planVersion_ = ~std::uint64_t(0); // model version the plans were made from
};

} // namespace paxsim
