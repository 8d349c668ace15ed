// The stimulation sends of KestClient.
#include "client/KestClient.h"

#include "client/KestPacketFill.h"
#include "protocol/KestPacketBuilder.h"
#include "stim/StimParamManager.h"
#include "stim/StimSeqManager.h"

#include <cstring>

bool KestClient::FindStimAddrs(const std::vector<std::int32_t>& electrodes,
                               std::vector<Addr>& out) const {
    out.clear();
    out.reserve(electrodes.size());
    std::lock_guard<std::mutex> hold(tablesMutex_);
    for (std::int32_t electrode : electrodes) {
        auto found = stimAddr_.find(electrode);
        if (found == stimAddr_.end()) {
            return false;
        }
        out.push_back(found->second);
    }
    return true;
}

int KestClient::SendSequences(const std::vector<SeqRef>& seqs) {
    std::vector<std::int32_t> electrodes;
    electrodes.reserve(seqs.size());
    for (const SeqRef& seq : seqs) {
        // The size byte counts the packet's words: seven for the heads, one per word.
        if (seq.count < 1 || seq.count > kKestMaxPacketSize / 4 - 7) {
            return kStimUnknownElectrode;
        }
        electrodes.push_back(seq.elec);
    }
    std::vector<Addr> addrs;
    if (!FindStimAddrs(electrodes, addrs)) {
        return kStimUnknownElectrode;
    }
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    for (std::size_t i = 0; i < seqs.size(); ++i) {
        if (!KestPutSequence(*sink_, addrs[i].first, addrs[i].second, seqs[i].words,
                             seqs[i].count)) {
            // The ring cannot take it; what is reserved is complete and goes out.
            sink_->SendConfigPacket();
            return kStimUnknownElectrode;
        }
    }
    sink_->SendConfigPacket();
    return kStimSent;
}

int KestClient::SendStimSeq(const StimSeqManager& manager) {
    std::vector<std::vector<std::uint32_t>> words(manager.Size());
    std::vector<SeqRef> seqs;
    seqs.reserve(manager.Size());
    for (std::size_t i = 0; i < manager.Size(); ++i) {
        words[i] = manager.GetStimCmd(i);
        seqs.push_back({manager.GetElec(i), words[i].data(), words[i].size()});
    }
    return SendSequences(seqs);
}

int KestClient::SendStimSeq(const StimSeq_t* records, int count) {
    std::vector<SeqRef> seqs;
    if (count > 0) {
        if (records == nullptr) {
            return kStimUnknownElectrode;
        }
        seqs.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            const StimSeq_t& record = records[i];
            if (record.count < 1 || record.count > KL_STIM_SEQ_MAX_WORDS) {
                return kStimUnknownElectrode;
            }
            seqs.push_back({record.elec, record.words, std::size_t(record.count)});
        }
    }
    return SendSequences(seqs);
}

int KestClient::SendStimCmd(const std::string& text) {
    StimParamManager params(text);
    if (!params.IsValid()) {
        return kStimInvalid;
    }
    std::vector<std::vector<std::uint32_t>> words(params.Size());
    std::vector<SeqRef> seqs;
    seqs.reserve(params.Size());
    for (std::size_t i = 0; i < params.Size(); ++i) {
        words[i] = params.GetStimCmd(i);
        words[i].insert(words[i].begin(), params.GetPAXControlWord(i));
        seqs.push_back({params.GetElecID(i), words[i].data(), words[i].size()});
    }
    return SendSequences(seqs);
}

int KestClient::SendStimClear(const std::vector<int>& electrodes, int kind) {
    if (kind < 0 || kind > 2) {
        return kStimInvalid;
    }
    std::vector<std::int32_t> wanted(electrodes.begin(), electrodes.end());
    std::vector<Addr> addrs;
    if (!FindStimAddrs(wanted, addrs)) {
        return kStimUnknownElectrode;
    }
    const std::uint32_t clear = kStimClearWords[kind];
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    for (const Addr& addr : addrs) {
        // A one-word sequence: the clear word alone, as the header of an empty sequence.
        if (!KestPutSequence(*sink_, addr.first, addr.second, &clear, 1)) {
            sink_->SendConfigPacket();
            return kStimUnknownElectrode;
        }
    }
    sink_->SendConfigPacket();
    return kStimSent;
}

int KestClient::SendStimCalibCmd(std::uint32_t command, unsigned module, unsigned prop) {
    KestWordArray array{};
    array.count = 2;
    array.words[0] = std::uint16_t(command & 0xFFFF);
    array.words[1] = std::uint16_t(command >> 16);
    return SendWordArray(array, module, prop);
}

int KestClient::SendStimCalibData(std::uint32_t value, const std::uint16_t* table, unsigned module,
                                  unsigned prop) {
    constexpr unsigned kBlocks = 5;
    constexpr std::size_t kBlockValues = 128;
    if (table == nullptr || module > 0xFF || prop + kBlocks > 0xFFFF) {
        return 0;
    }
    KestWordArray begin{};
    begin.count = 2;
    begin.words[0] = 2; // begin loading a calibration table
    KestWordArray block{};
    block.count = 2 + kBlockValues;
    block.words[0] = std::uint16_t(value & 0xFFFF);
    block.words[1] = std::uint16_t(value >> 16);

    // The six packets go out together, so no other writer's packet falls between them.
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    bool complete = KestPutRecord(*sink_, kKestProcessorId, module, prop, &begin,
                                  begin.RecordLength(), kKestSetTimestamp);
    for (unsigned k = 1; complete && k <= kBlocks; ++k) {
        std::memcpy(block.words + 2, table + kBlockValues * (k - 1), kBlockValues * 2);
        complete = KestPutRecord(*sink_, kKestProcessorId, module, prop + k, &block,
                                 block.RecordLength(), kKestSetTimestamp);
    }
    sink_->SendConfigPacket();
    return complete ? 1 : 0;
}
