// Records the command families read from the network, as arbitrary bytes: filter combo boxes
// and filter descriptions, trial descriptors from an operator, impedance lists and results,
// transceiver records, stream switches and the file-save selection. Each arrives in the cache
// the way the link hands it over, then the kl_* calls of its family interpret it.
//
// One emulated processor (four front ends, the fourth a transceiver) describes itself into a
// cache once; the library's globals point at that cache and at a configuration sender whose
// sink answers every packet the calls send at once, with the input's next answer record.
// After each input the records it touched are put back, so the model serves input after
// input.
//
// Input: [family] [selector] then records, each as [length in words] [bytes]: the first is
// stored at the family's record the selector picks (in the type of the record it replaces),
// the rest answer the calls' packets in turn.
#include "cache/KestCache.h"
#include "cache/ModuleData.h"
#include "client/Connection.h"
#include "client/KestClient.h"
#include "client/KestConfigSink.h"
#include "emulator/model/ProcessorModel.h"
#include "include/kestlib.h"
#include "lib/ImpedanceTiming.h"
#include "lib/SignalSupport.h"
#include "links/OperRegistry.h"
#include "protocol/KestPacket.h"
#include "protocol/KestPacketBuilder.h"
#include "tests/client/ClientKit.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Address = std::pair<unsigned, unsigned>; // module, property index

// A record of a family and the name the calls reach it by (a filter, a stream; empty: any).
struct Target {
    Address at;
    std::string name;
};
using Prop = ModuleData::Prop;

constexpr std::uint32_t kNow = 30000;
constexpr CacheRingSizes kSmallRings{300, 16};
constexpr int kTransceiverElectrode = 96;
constexpr std::uint16_t kTransceiverWords = KL_TRANSCEIVER_WORDS;

enum Family { kFilter, kTrial, kImpedance, kTransceiver, kSignal, kFamilies };

// A configuration packet from `proc` (the processor or an operator) carrying `record` for (module,
// index).
void Deliver(KestCache& cache, std::uint8_t proc, Address at, const std::uint8_t* record,
             std::size_t length, std::uint32_t source = kKestNoSource) {
    alignas(8) std::array<std::uint8_t, kKestMaxPacketSize> packet{};
    length = std::min(length, kKestMaxRecordSize);
    const std::size_t bytes = (kKestConfigHeaderSize + length + 3) / 4 * 4;
    packet[0] = std::uint8_t(bytes / 4);
    packet[1] = proc; // the sender; stream 0: a configuration packet
    packet[2] = std::uint8_t(at.first);
    packet[8] = kKestProcessorId;
    packet[9] = std::uint8_t(at.first);
    kest::StoreLe(&packet[10], std::uint16_t(at.second));
    if (length > 0) {
        std::memcpy(&packet[kKestConfigHeaderSize], record, length);
    }
    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()), source);
}

// The input's answer records, handed out in turn.
struct Answers {
    std::vector<Bytes> records;
    std::size_t next = 0;
    const Bytes* Take() { return next < records.size() ? &records[next++] : nullptr; }
};

class FuzzProcessor;

// The sink of the configuration sender: while the model is being described, packets go to the
// emulated processor; afterwards each is answered from the input. Each packet is answered
// when it is published.
class AnsweringSink : public KestConfigSink {
  public:
    explicit AnsweringSink(FuzzProcessor& owner) : owner_(owner) {}
    std::mutex& WriteMutex() override { return mutex_; }
    KestPacket* NewConfigPacket(std::size_t size) override {
        pending_.emplace_back((size + 3) / 4, 0u);
        return reinterpret_cast<KestPacket*>(pending_.back().data());
    }
    void SendConfigPacket() override;

  private:
    FuzzProcessor& owner_;
    std::mutex mutex_;
    std::vector<std::vector<std::uint32_t>> pending_;
};

class FuzzProcessor {
  public:
    FuzzProcessor()
        : cache_(kSmallRings), sink_(*this), routes_(true), client_(&sink_, &routes_, &cache_) {
        // The emulated processor describes itself once; later models replay what it sent.
        const std::vector<Bytes>& description = Description();
        if (description.empty()) {
            paxsim::ProcessorModel model(paxsim::ModelConfig::Default(4));
            model_ = &model;
            Ask(255, 0, 0);
            Ask(1, 255, 0);
            for (unsigned module : cache_.GetModuleList()) {
                Ask(1, std::uint8_t(module), kKestAllPropsIndex);
            }
            model_ = nullptr;
        } else {
            for (const Bytes& packet : description) {
                cache_.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
            }
        }
        describing_ = false;
        // No waiting: each wait of the impedance measurement looks twice, with no pause.
        kestlib::GetImpedanceTiming() = {1, 0, 1, 0};
        gKestCache = &cache_;
        gKestClient = &client_;
        operator_ = oper::OperFirstKestClient();
        FindTargets();
    }
    ~FuzzProcessor() {
        gKestClient = nullptr;
        gKestCache = nullptr;
    }

    bool Ready() const { return cache_.IsInit(); }
    const std::vector<Target>& Targets(Family family, int electrode) {
        return targets_[{family, electrode}];
    }

    // Stores a record at `at` as the processor would send it, keeping the type of the record it
    // replaces: a record of another type may change the model itself, and the intake of
    // any record at any place is the cache target's part.
    void Store(Address at, Bytes record) {
        Touch(at);
        const Bytes& original = originals_[at];
        if (record.size() >= 2 && original.size() >= 2) {
            record[1] = original[1];
        }
        Deliver(cache_, kKestProcessorId, at, record.data(), record.size());
    }

    // Every target of the family: the calls change records before they send.
    void Begin(Answers* answers, const std::vector<Target>& targets) {
        answers_ = answers;
        for (const Target& target : targets) {
            Touch(target.at);
        }
    }
    // Puts every touched record back; false when the model has to be built afresh.
    bool End() {
        answers_ = nullptr;
        for (Address at : touched_) {
            const Bytes& record = originals_[at];
            if (record.empty()) {
                return false; // a record appeared where none was
            }
            Deliver(cache_, kKestProcessorId, at, record.data(), record.size());
        }
        touched_.clear();
        cache_.ResetTrialDescriptor(operator_);
        return cache_.IsInit();
    }

    // A packet the calls sent: answered with the next answer record, at once.
    void Answer(const Bytes& packet) {
        if (describing_) {
            if (model_ == nullptr) {
                return; // a replayed description asks nothing
            }
            paxsim::Outbox out;
            model_->HandlePacket(packet.data(), packet.size(), kNow, out);
            Feed(out);
            return;
        }
        if (packet.size() < kKestConfigHeaderSize || answers_ == nullptr) {
            return;
        }
        const std::uint8_t proc = packet[8];
        const Address sent{packet[9], kest::LoadLe<std::uint16_t>(&packet[10])};
        // Without an answer left in the input the processor echoes what it was sent.
        const Bytes* answer = answers_->Take();
        const Bytes echo(packet.begin() + kKestConfigHeaderSize,
                         packet.begin() + std::min<std::size_t>(packet.size(), packet[0] * 4u));
        Bytes record = answer != nullptr ? *answer : echo;
        if (proc == kKestOperatorProcId) {
            // The operator's answer: a trial descriptor by its type, whatever it holds. One
            // shorter than the descriptor is dropped by the cache; the call then sees it
            // padded with zeros, rather than waiting for an answer that never comes.
            record.resize(std::max<std::size_t>(record.size(), 2));
            record[1] = kKestTrialDescType;
            Deliver(cache_, kKestOperatorProcId, sent, record.data(), record.size(), operator_);
            if (record.size() < kKestTrialDescSize) {
                record.resize(kKestTrialDescSize);
                Deliver(cache_, kKestOperatorProcId, sent, record.data(), record.size(), operator_);
            }
            return;
        }
        // The impedance measurement's start is answered in the measurement record.
        const auto measurement = measurementOf_.find(sent);
        const Address at = measurement != measurementOf_.end() ? measurement->second : sent;
        Touch(at);
        record.resize(std::max<std::size_t>(record.size(), 8));
        // What a waiting call looks for arrives: a record of the type kept there (as in Store),
        // and the transceiver's counts; everything else is the input's.
        const Bytes& original = originals_[at];
        record[1] = original.size() >= 2 ? original[1] : packet[kKestConfigHeaderSize + 1];
        if (transceiverWaits_.count(at) != 0) {
            const std::uint16_t count =
                transceiverWaits_[at] ? kTransceiverWords
                                      : std::uint16_t(kest::LoadLe<std::uint16_t>(&record[6]) %
                                                      (kTransceiverWords + 1));
            kest::StoreLe(&record[6], count);
        }
        Deliver(cache_, kKestProcessorId, at, record.data(), record.size());
    }

  private:
    void Feed(const paxsim::Outbox& out) {
        const std::vector<std::uint8_t>& bytes = out.Bytes();
        std::size_t at = 0;
        while (at + 4 <= bytes.size()) {
            const std::size_t size = std::size_t(bytes[at]) * 4;
            if (size == 0 || at + size > bytes.size()) {
                break;
            }
            Bytes packet(kKestMaxPacketSize);
            std::memcpy(packet.data(), &bytes[at], size);
            cache_.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
            Description().push_back(std::move(packet));
            at += size;
        }
    }

    void Ask(std::uint8_t target, std::uint8_t module, std::uint16_t index) {
        std::uint8_t request[12];
        KestBuildRequest(request, sizeof request, target, module, index);
        paxsim::Outbox out;
        model_->HandlePacket(request, sizeof request, kNow, out);
        Feed(out);
    }

    // Remembers a record's pristine bytes before an input first changes it.
    void Touch(Address at) {
        touched_.insert(at);
        if (originals_.count(at) != 0) {
            return;
        }
        Bytes record(kKestMaxRecordSize);
        const std::size_t length =
            cache_.CopyKestProperty(at.first, at.second, record.data(), record.size());
        record.resize(std::min(length, record.size()));
        originals_[at] = std::move(record);
    }

    void Add(Family family, int electrode, Address at, const std::string& name = "") {
        std::vector<Target>& list = targets_[{family, electrode}];
        if (std::none_of(list.begin(), list.end(), [&](const Target& t) { return t.at == at; })) {
            list.push_back({at, name});
        }
    }

    void AddNamed(Family family, int electrode, unsigned module, Prop prop) {
        const int index = cache_.GetNamedPropIndex(module, int(prop));
        if (index > 0) {
            Add(family, electrode, {module, unsigned(index)});
        }
    }

    void FindTargets() {
        for (int electrode : {0, 32}) {
            char names[16][128] = {};
            const int count = std::max(0, kl_filter_list_names(names, 16, electrode));
            for (int n = 0; n < std::min(count, 16); ++n) {
                int module = -1;
                int index = -1;
                if (cache_.GetFilterComboBox(electrode, names[n], &module, &index) != nullptr) {
                    Add(kFilter, electrode, {unsigned(module), unsigned(index)}, names[n]);
                }
                for (int item = 0; item < 16; ++item) {
                    if (cache_.GetSosFilterDesc(electrode, names[n], item, &module, &index) !=
                        nullptr) {
                        Add(kFilter, electrode, {unsigned(module), unsigned(index)}, names[n]);
                    }
                }
            }
            const int hw = cache_.FindHWModule(unsigned(electrode));
            if (hw >= 0) {
                const unsigned m = unsigned(hw);
                for (Prop prop :
                     {Prop::ImpedanceCycle, Prop::ImpedanceFreqList, Prop::ImpedanceCurrentList,
                      Prop::ImpedanceControl, Prop::ImpedanceMeasurements}) {
                    AddNamed(kImpedance, electrode, m, prop);
                }
                const int cycle = cache_.GetNamedPropIndex(m, int(Prop::ImpedanceCycle));
                const int results = cache_.GetNamedPropIndex(m, int(Prop::ImpedanceMeasurements));
                if (cycle > 0 && results > 0) {
                    measurementOf_[{m, unsigned(cycle)}] = {m, unsigned(results)};
                }
            }
            for (const char* stream : {"raw", "lfp", "spk", "stim", "spkfilt"}) {
                KestStreamSwitch found;
                if (kestlib::StreamSwitch(electrode, stream, &found) && found.index >= 0) {
                    Add(kSignal, electrode, {unsigned(found.module), unsigned(found.index)},
                        stream);
                }
            }
            unsigned selection = 0;
            if (cache_.GetFileSaveSelectionProp(unsigned(electrode), &selection) != nullptr) {
                Add(kSignal, electrode, {0, selection});
            }
            int module = -1;
            int index = -1;
            int switches = 0;
            if (kestlib::DiginSwitch(&module, &index, &switches) >= 0) {
                Add(kSignal, electrode, {unsigned(module), unsigned(index)});
            }
        }
        const int transceiver = cache_.FindHWModule(kTransceiverElectrode);
        if (transceiver >= 0) {
            const unsigned m = unsigned(transceiver);
            Add(kTransceiver, 0, {m, 0}); // the module descriptor and its label
            for (Prop prop :
                 {Prop::ImplantConnectionStatus, Prop::ImplantSearchTrigger, Prop::ImplantStatus,
                  Prop::TransceiverCommand, Prop::ImplantCommandResponse}) {
                AddNamed(kTransceiver, 0, m, prop);
            }
            // Status and command wait for a full count, the response for any count up to it.
            auto wait = [&](Prop prop, bool full) {
                const int index = cache_.GetNamedPropIndex(m, int(prop));
                if (index > 0) {
                    transceiverWaits_[{m, unsigned(index)}] = full;
                }
            };
            wait(Prop::ImplantStatus, true);
            wait(Prop::TransceiverCommand, true);
            wait(Prop::ImplantCommandResponse, false);
        }
        // The calls clear records before they send: their pristine bytes are kept first.
        for (const auto& [key, list] : targets_) {
            for (const Target& target : list) {
                Touch(target.at);
            }
        }
        touched_.clear();
    }

    static std::vector<Bytes>& Description() {
        static std::vector<Bytes> packets;
        return packets;
    }

    paxsim::ProcessorModel* model_ = nullptr;
    KestCache cache_;
    AnsweringSink sink_;
    clientkit::FakeRoutes routes_;
    KestClient client_;
    bool describing_ = true;
    std::uint32_t operator_ = 0;
    Answers* answers_ = nullptr;
    std::map<Address, Bytes> originals_;
    std::map<std::pair<int, int>, std::vector<Target>> targets_;
    std::set<Address> touched_;
    std::map<Address, bool> transceiverWaits_;
    std::map<Address, Address> measurementOf_; // impedance start -> its results
};

void AnsweringSink::SendConfigPacket() {
    std::vector<std::vector<std::uint32_t>> published;
    published.swap(pending_);
    for (const std::vector<std::uint32_t>& words : published) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(words.data());
        owner_.Answer(Bytes(bytes, bytes + 4 * words.size()));
    }
}

std::unique_ptr<FuzzProcessor>& Processor() {
    static std::unique_ptr<FuzzProcessor> processor;
    return processor;
}

// The calls on the filter the stored record belongs to.
void RunFilter(int electrode, const std::string& filter, unsigned selector) {
    char names[16][128] = {};
    kl_filter_list_names(names, 16, electrode);
    const char* name = filter.c_str();
    int selection = 0;
    const int items = kl_filter_list_selection(&selection, electrode, name);
    for (int item = -1; item <= std::min(items, 8); ++item) {
        std::free(kl_filter_get_desc(electrode, name, item));
    }
    kestlib::CustomFilterMaxStages(electrode, name);
    kl_filter_set(electrode, name, int(selector % 4));
    kestlib::FilterSelectConfirmed(electrode, name, int(selector % 4));
    std::vector<std::uint8_t> storage(KL_FILTER_DESC_SIZE(kKestSosMaxStages));
    auto* desc = reinterpret_cast<KestFilterDesc*>(storage.data());
    desc->numStages = std::uint32_t(selector % 5);
    kl_filter_set_custom(electrode, name, desc);
}

void RunTrial() {
    char status[32];
    char fileBase[600];
    char error[300];
    int numbers[3] = {};
    kl_trial(0, nullptr, nullptr, nullptr, nullptr, nullptr, status, sizeof status, fileBase,
             sizeof fileBase, error, sizeof error, &numbers[0], &numbers[1], &numbers[2]);
    kl_trial(0, nullptr, nullptr, nullptr, nullptr, nullptr, status, 4, fileBase, 3, error, 1,
             nullptr, nullptr, nullptr);
}

void RunImpedance(int electrode, unsigned selector) {
    std::uint16_t currents[10] = {};
    const int count = kl_get_ic_current_for_elec(std::uint32_t(electrode), currents, 10);
    const std::uint32_t electrodes[3] = {std::uint32_t(electrode), std::uint32_t(electrode) + 1,
                                         std::uint32_t(electrode) + 31};
    float results[3] = {};
    const int current =
        count > 0 && (selector & 1) != 0 ? currents[selector % unsigned(count)] : -1;
    kl_imp(results, electrodes, 1 + int(selector % 3), current, 1 + selector % 4);
}

void RunTransceiver(unsigned selector) {
    const int electrode = kTransceiverElectrode + int(selector % 2);
    std::int32_t connected = 0;
    kl_transceiver_connected(electrode, &connected);
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    kl_transceiver_status(words, electrode);
    KestTransceiverCommand command{};
    command.command = std::uint16_t(selector);
    command.count = std::uint16_t(selector % 40);
    kl_transceiver_command(electrode, &command);
    kl_transceiver_cmd_response(words, electrode);
    kl_transceiver_enable(electrode, int(selector & 1));
}

// The calls on the stream the stored record belongs to; every stream for the file-save
// selection and the digital input switch.
void RunSignal(int electrode, const std::string& stream, unsigned selector) {
    static const char* const kStreams[] = {"raw", "lfp", "spk", "stim", "spkfilt", "hwstatus"};
    for (const char* name : kStreams) {
        if (!stream.empty() && stream != name) {
            continue;
        }
        kl_signal(electrode, name);
        kl_signal_save_local(electrode, name);
        if ((selector & 2) != 0) {
            kl_signal_set(electrode, name, int(selector & 1));
            kl_signal_save_set_local(electrode, name, int(selector & 1));
        }
    }
    int module = -1;
    int index = -1;
    int count = 0;
    kestlib::DiginSwitch(&module, &index, &count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::unique_ptr<FuzzProcessor>& processor = Processor();
    if (!processor) {
        processor.reset(); // the old one clears the globals before the new one sets them
        processor = std::make_unique<FuzzProcessor>();
        if (!processor->Ready()) {
            std::abort(); // the emulated processor no longer describes itself completely
        }
    }
    const auto family = Family(data[0] % kFamilies);
    const unsigned selector = data[1];
    const int electrode = (selector & 0x80) != 0 ? 32 : 0;

    Answers answers;
    std::size_t offset = 2;
    while (offset < size) {
        const std::size_t length =
            std::min<std::size_t>(std::size_t(data[offset]) * 4, size - offset - 1);
        answers.records.emplace_back(data + offset + 1, data + offset + 1 + length);
        offset += 1 + length;
    }

    const std::vector<Target>& targets =
        processor->Targets(family, family == kTransceiver ? 0 : electrode);
    processor->Begin(&answers, targets);
    const Target* target = nullptr;
    if (!targets.empty()) {
        target = &targets[(selector & 0x7F) % targets.size()];
        if (const Bytes* stored = answers.Take()) {
            processor->Store(target->at, *stored);
        }
    }
    const std::string name = target != nullptr ? target->name : "";
    switch (family) {
    case kFilter:
        RunFilter(electrode, name, selector);
        break;
    case kTrial:
        RunTrial();
        break;
    case kImpedance:
        RunImpedance(electrode, selector);
        break;
    case kTransceiver:
        RunTransceiver(selector);
        break;
    default:
        RunSignal(electrode, name, selector);
        break;
    }
    if (!processor->End()) {
        processor.reset();
    }
    return 0;
}
