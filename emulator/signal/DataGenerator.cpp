#include "emulator/signal/DataGenerator.h"

#include "emulator/model/ModelFactory.h"

#include <cstring>

namespace paxsim {
namespace {

bool Due(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

} // namespace

DataGenerator::DataGenerator(const ProcessorModel& model, DataConfig config)
    : model_(model), config_(config) {}

void DataGenerator::Restart(std::uint32_t start) {
    start_ = start;
    trains_.clear();
    sequences_.clear();
    digitalIndex_ = 0;
    injected_.clear();
    planVersion_ = ~std::uint64_t(0);
}

void DataGenerator::InjectDigital(std::uint16_t parallel) {
    injected_.push_back(parallel);
}

void DataGenerator::Refresh() {
    continuous_.clear();
    spikePlans_.clear();
    digitalStream_ = 0;
    if (trainRate_ != config_.spikeRate) {
        trains_.clear();
        trainRate_ = config_.spikeRate;
    }
    for (const ModuleModel& module : model_.Modules()) {
        int frontEnd = ProcessorModel::FrontEndOf(module.id);
        std::uint32_t electrodeBase =
            frontEnd >= 0 ? 32u * unsigned(frontEnd) : kAnalogElectrodeBase;
        if (frontEnd < 0 && module.id != kAnalogModule && module.id != kDigitalModule) {
            continue;
        }
        for (const StreamInfo& stream : module.streams) {
            if (stream.dataKind == kKestDigitalEventData) {
                if (module.id == kDigitalModule && module.StreamEnabled(stream)) {
                    digitalStream_ = stream.id;
                }
                continue;
            }
            if (stream.dataKind == kKestSegmentData) {
                if (stream.name == "spk" && frontEnd >= 0 && module.ChannelEnabled(stream, 0)) {
                    spikePlans_.push_back(
                        {module.id, stream.id, electrodeBase + unsigned(stream.channel), nullptr});
                }
                continue;
            }
            int ordinal = StreamOrdinal(stream.name);
            if (ordinal < 0 || !module.StreamEnabled(stream) || stream.channels > 32) {
                continue;
            }
            ContinuousPlan plan{};
            plan.module = module.id;
            plan.stream = stream.id;
            plan.period = stream.period;
            plan.isFloat = stream.dataKind == kKestFloatData;
            plan.channels = stream.channels;
            for (unsigned c = 0; c < stream.channels; ++c) {
                plan.keys[c] = ChannelKey(electrodeBase + c, ordinal);
                plan.enabled[c] = module.ChannelEnabled(stream, c);
            }
            continuous_.push_back(plan);
        }
    }
    for (SpikePlan& plan : spikePlans_) {
        auto it = trains_.find(plan.electrode);
        if (it == trains_.end()) {
            SpikeTrain train(config_.seed, plan.electrode, config_.spikeRate);
            // Trains run on processor time from the generator's start.
            while (train.Active() && !Due(train.Time(), start_)) {
                train.Next();
            }
            it = trains_.emplace(plan.electrode, train).first;
        }
        plan.train = &it->second;
    }
}

std::uint16_t DataGenerator::NextSequence(std::uint8_t module, std::uint8_t stream) {
    std::uint16_t& sequence = sequences_[std::uint32_t(module) << 8 | stream];
    ++eventPackets_;
    if (config_.sequenceGapEvery != 0 && eventPackets_ % config_.sequenceGapEvery == 0) {
        sequence = static_cast<std::uint16_t>(sequence + config_.sequenceGapSize);
    }
    return sequence++;
}

void DataGenerator::EmitContinuous(const ContinuousPlan& plan, std::uint32_t time, Outbox& out) {
    std::uint8_t packet[kKestMaxPacketSize];
    std::size_t sampleBytes = plan.isFloat ? 4 : 2;
    std::size_t bytes = (12 + sampleBytes * plan.channels + 3) / 4 * 4;
    std::memset(packet, 0, bytes);
    auto* head = reinterpret_cast<KestDataPacket*>(packet);
    head->header = {static_cast<std::uint8_t>(bytes / 4), kKestProcessorId, plan.module,
                    plan.stream, time};
    head->dataKind = kKestContinuousData;
    ++continuousPackets_;
    if (config_.flagEvery != 0 && continuousPackets_ % config_.flagEvery == 0) {
        head->flagsOrSeq = kKestStreamUnavailableFlags;
        ++counters_.flagged;
    }
    std::uint8_t* samples = packet + 12;
    for (unsigned c = 0; c < plan.channels; ++c) {
        if (!plan.enabled[c]) {
            continue;
        }
        if (plan.isFloat) {
            float value = FloatSample(config_.seed, plan.keys[c], time);
            std::memcpy(samples + 4 * c, &value, 4);
        } else {
            std::int16_t value = ContinuousSample(config_.seed, plan.keys[c], time);
            std::memcpy(samples + 2 * c, &value, 2);
        }
    }
    out.Append(packet, bytes);
    ++counters_.continuous;
}

void DataGenerator::EmitSpike(const SpikePlan& plan, SpikeTrain& train, Outbox& out) {
    KestSegmentDataPacketFixed packet{};
    packet.header = {30, kKestProcessorId, plan.module, plan.stream, train.Time()};
    packet.dataKind = kKestSegmentData;
    packet.sequence = NextSequence(plan.module, plan.stream);
    packet.unit = train.Unit();
    SpikeWaveform(packet.unit, packet.waveform);
    out.Append(&packet, sizeof packet);
    ++counters_.spikes;
}

void DataGenerator::EmitDigital(std::uint32_t time, const DigitalEvent& event, std::uint8_t reason,
                                Outbox& out) {
    KestDigitalEventPacket packet{};
    packet.header = {7, kKestProcessorId, kDigitalModule, digitalStream_, time};
    packet.dataKind = kKestDigitalEventData;
    packet.sequence = NextSequence(kDigitalModule, digitalStream_);
    packet.reason = reason;
    packet.parallel = event.parallel;
    std::memcpy(packet.sma, event.sma, sizeof packet.sma);
    out.Append(&packet, sizeof packet);
    ++counters_.digital;
}

void DataGenerator::Generate(std::uint32_t from, std::uint32_t to, Outbox& out) {
    if (planVersion_ != model_.Version() || trainRate_ != config_.spikeRate) {
        Refresh();
        planVersion_ = model_.Version();
    }
    for (std::uint32_t t = from; t != to; ++t) {
        for (const ContinuousPlan& plan : continuous_) {
            if (plan.period <= 1 || t % plan.period == 0) {
                EmitContinuous(plan, t, out);
            }
        }
        for (const SpikePlan& plan : spikePlans_) {
            SpikeTrain& train = *plan.train;
            while (train.Active() && Due(t, train.Time())) {
                if (train.Time() == t) {
                    EmitSpike(plan, train, out);
                }
                train.Next();
            }
        }
        if (digitalStream_ != 0) {
            if (!injected_.empty()) {
                DigitalEvent event{t, injected_.front(), {0, 0, 0, 0}};
                injected_.pop_front();
                EmitDigital(t, event, 1, out);
            }
            if (config_.digitalRate > 0) {
                DigitalEvent event =
                    DigitalEventAt(config_.seed, config_.digitalRate, digitalIndex_);
                while (Due(t, start_ + event.time)) {
                    if (start_ + event.time == t) {
                        EmitDigital(t, event, 1, out);
                    }
                    event = DigitalEventAt(config_.seed, config_.digitalRate, ++digitalIndex_);
                }
            }
        }
    }
}

} // namespace paxsim
