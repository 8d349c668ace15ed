// Stimulation playback of the emulated processor: a sequence written to a stimulation channel
// is played as stimulation segment packets, now or on a trigger, its cycles spaced by the
// sequence's period, and stopped by a clear or by disabling stimulation.
#include "emulator/model/ProcessorModel.h"
#include "emulator/model/RecordValues.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace paxsim {

void ProcessorModel::LoadStimSequence(ModuleModel& m, unsigned channel, std::uint32_t now) {
    const Record& record = m.records[m.blocks.at("Stim Control Descriptor Block").first + channel];
    if (record.size() < 20) {
        return;
    }
    unsigned words16 = kest::LoadLe<std::uint16_t>(&record[6]);
    unsigned words = std::min<std::size_t>(words16 / 2, (record.size() - 16) / 4);
    if (words == 0) {
        return;
    }
    std::uint32_t header = kest::LoadLe<std::uint32_t>(&record[16]);
    unsigned action = header >> 28;
    auto same = [&](const StimPlay& p) { return p.module == m.id && p.channel == channel; };
    if (words == 1) {
        // A clear: now (0), after the current cycle (1) or after all cycles (2).
        for (StimPlay& play : stimPlays_) {
            if (same(play) && action == 1) {
                play.repeats = play.played;
            }
        }
        if (action == 0 || action == 1) {
            stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                                            [&](const StimPlay& p) {
                                                return same(p) &&
                                                       (action == 0 || p.played >= p.repeats);
                                            }),
                             stimPlays_.end());
        }
        return;
    }
    if (!GlobalStimEnabled() || !BoolValue(m.Value("Stim Enable"))) {
        return; // a disabled stimulator ignores sequences
    }
    StimPlay play;
    play.module = m.id;
    play.channel = channel;
    for (unsigned w = 1; w < words; ++w) {
        play.words.push_back(kest::LoadLe<std::uint32_t>(&record[16 + 4 * w]));
    }
    std::uint32_t length = 0;
    for (std::uint32_t word : play.words) {
        length += word >> 16;
    }
    play.period = (header >> 12) & 0xFFFF;
    if (play.period == 0) {
        play.period = std::max<std::uint32_t>(length, 1);
    }
    play.repeats = std::max(1u, header & 0xFFFu);
    play.start = now;
    play.waitTrigger = action == 3;
    stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(), same), stimPlays_.end());
    stimPlays_.push_back(std::move(play));
}

void ProcessorModel::TriggerStim(int onlyModule, std::uint32_t now) {
    for (StimPlay& play : stimPlays_) {
        if (play.waitTrigger && (onlyModule < 0 || play.module == onlyModule)) {
            play.waitTrigger = false;
            play.start = now;
            play.played = 0;
        }
    }
}

void ProcessorModel::EmitStimSegment(const StimPlay& play, std::uint32_t time, Outbox& out) {
    ModuleModel* m = Find(play.module);
    const StreamInfo* stream = nullptr;
    for (const StreamInfo& s : m->streams) {
        if (s.name == "stim" && s.channel == int(play.channel)) {
            stream = &s;
        }
    }
    if (!stream || !m->ChannelEnabled(*stream, 0)) {
        return;
    }
    int step = 1;
    if (m->Has("Stim Resolution")) {
        const Record& box = m->Value("Stim Resolution");
        if (box.size() >= sizeof(KestComboBox)) {
            const KestComboBox& combo = View<KestComboBox>(box);
            std::size_t item = std::size_t(combo.firstItem) + combo.selection;
            if (combo.selection < combo.itemCount && item < m->records.size() &&
                m->records[item].size() >= sizeof(KestComboBoxItem)) {
                const KestComboBoxItem& text = View<KestComboBoxItem>(m->records[item]);
                std::string digits(text.text, KestTextLength(text.text, sizeof text.text));
                step = std::atoi(digits.c_str());
            }
        }
    }
    KestSegmentDataPacketFixed packet{};
    packet.header = {30, kKestProcessorId, play.module, stream->id, time};
    packet.dataKind = kKestSegmentData;
    std::uint16_t& sequence = segmentSequence_[std::uint32_t(play.module) << 8 | stream->id];
    packet.sequence = sequence++;
    packet.unit = 0;
    std::size_t sample = 0;
    for (std::uint32_t word : play.words) {
        unsigned length = word >> 16;
        bool enable = (word >> 13) & 1;
        bool positive = (word >> 7) & 1;
        int amplitude = enable ? int(word & 0x7F) * step : 0;
        for (unsigned t = 0; t < length && sample < kKestSegmentWaveformSamples; ++t) {
            packet.waveform[sample++] =
                static_cast<std::int16_t>(positive ? amplitude : -amplitude);
        }
    }
    out.Append(&packet, sizeof packet);
    ++counters_.stimSegments;
}

void ProcessorModel::PlayStim(std::uint32_t now, Outbox& out) {
    if (stimPlays_.empty()) {
        return;
    }
    if (!GlobalStimEnabled()) {
        stimPlays_.clear();
        return;
    }
    for (StimPlay& play : stimPlays_) {
        if (play.waitTrigger) {
            continue;
        }
        while (play.played < play.repeats && Due(now, play.start + play.played * play.period)) {
            EmitStimSegment(play, play.start + play.played * play.period, out);
            ++play.played;
        }
    }
    stimPlays_.erase(
        std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                       [](const StimPlay& p) { return !p.waitTrigger && p.played >= p.repeats; }),
        stimPlays_.end());
}

} // namespace paxsim
