// KestClient: turns configuration requests into KEST configuration packets and hands them to
// the processor link. It never waits for an answer; KestSendAndRecv confirms writes by their
// echo.
//
// Every operation reserves its packets in the configuration sink, fills them in place and
// publishes once, after the last packet, holding the sink's write mutex throughout. Input is
// checked before anything is reserved, so a refused call leaves nothing behind in the ring.
#pragma once

#include "client/Connection.h"
#include "client/KestClientTask.h"
#include "client/KestConfigSink.h"
#include "client/KestOperatorRoutes.h"
#include "client/StimSeqRecord.h"
#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class KestCache;
class StimSeqManager;

// Clear words of SendStimClear by kind: at once, at the end of the current cycle, at the end
// of all cycles.
constexpr std::uint32_t kStimClearWords[3] = {0x00000000, 0x10000000, 0x20000000};

// Results of the stimulation sends.
constexpr int kStimSent = 0;
constexpr int kStimUnknownElectrode = 1;
constexpr int kStimInvalid = 2;

class KestClient {
  public:
    // Writes into `sink` (the client links' "configBuffer" when null), reaches operators
    // through `routes` (none when null: descriptor sends to an operator then fail) and looks
    // descriptor properties up in `cache` (gKestCache when null).
    explicit KestClient(KestConfigSink* sink = nullptr, KestOperatorRoutes* routes = nullptr,
                        KestCache* cache = nullptr);
    // Cancels and waits for every task still attached (see KestClientTask).
    virtual ~KestClient();
    KestClient(const KestClient&) = delete;
    KestClient& operator=(const KestClient&) = delete;

    // --- Property writes (timestamp 1). 1 sent; 0 refused (nothing sent) when a record is
    // missing or does not fit one packet.
    // The first `length` bytes of `property` (1 to 1008).
    virtual int SendKestProperty(const void* property, unsigned module, unsigned prop,
                                 std::size_t length);
    int SendBool(unsigned module, unsigned prop, bool value);
    int SendComboBox(const KestComboBox& box, unsigned module, unsigned prop);
    // A filter descriptor sent whole: 152 + 16 x stages record bytes; refused when its
    // stage count does not fit one packet.
    int SendComboBox(const KestSosFilterDesc& filter, unsigned module, unsigned prop);
    int SendWordArray(const KestWordArray& array, unsigned module, unsigned prop);
    int SendFloatArray(const KestFloatArray& array, unsigned module, unsigned prop);
    int SendAudioTone(const KestAudioTone& tone, unsigned module, unsigned prop);
    // The caller's complete packet (4 x its size byte), as it stands. False when its size
    // byte is below 2 words.
    bool SendKestPacket(const KestPacket& packet);

    // --- Requests (12 bytes, timestamp 0).
    bool RequestProperty(unsigned processor, unsigned module, unsigned prop);
    // "Send everything" to every connected operator, over their own connections.
    void RequestAll();

    // --- Digital outputs: outputs[i] in 0-4 gets values[i] (output 4 is the 16-bit
    // parallel port). 1 sent; 0 refused when an output is unknown or named twice, or the
    // count is negative.
    int SetDigOut(const int* outputs, const int* values, int count);

    // --- Stimulation (timestamp 0). kStimSent, kStimUnknownElectrode when an electrode has
    // no stimulation address or a sequence cannot be carried (no words, more than 248),
    // kStimInvalid for an invalid text or clear kind. A refused call sends nothing.
    int SendStimSeq(const StimSeqManager& manager);
    int SendStimSeq(const StimSeq_t* seqs, int count);
    int SendStimClear(const std::vector<int>& electrodes, int kind);
    int SendStimCmd(const std::string& text);
    int SendStimCalibCmd(std::uint32_t command, unsigned module, unsigned prop);
    // `table` holds 5 x 128 values; the six packets go out in one publish.
    int SendStimCalibData(std::uint32_t value, const std::uint16_t* table, unsigned module,
                          unsigned prop);

    // --- Descriptors. The target is a processor or operator address (network order). A
    // null descriptor sends a request for it. False when the address has no descriptor
    // property or the operator is not connected.
    bool SendSignalSelectionDescriptor(std::uint32_t address, int index,
                                       const BmFeSignalSelectionDesc* desc);
    bool SendTrialDesc(std::uint32_t address, const KestRecordingTrialDescriptor* desc);
    int SendFileSaveSelection(const BmFeSignalSelectionDesc& desc, unsigned processor,
                              unsigned prop);

    // --- Address tables.
    // 0 and (module, prop) of the electrode's stimulation sequence property; -1 when unknown.
    int GetStimAddrByElec(int* module, int* prop, int electrode) const;
    // Replaces the stimulation address table (electrode index -> (module, property)).
    void SetStimAddr(const std::map<unsigned, std::pair<unsigned, unsigned>>& table);
    void SetElecAddr(const std::map<unsigned, unsigned>& map);
    std::map<unsigned, unsigned> GetElecAddr() const;

    // --- Tasks that send through this client from their own thread.
    void Attach(KestClientTask* task);
    void Detach(KestClientTask* task);
    // Cancels and waits for every attached task; they are detached afterwards.
    void CancelTasks();

    KestConfigSink& Sink() { return *sink_; }
    // Before any operation runs (the link sets it up when it starts).
    void SetOperatorRoutes(KestOperatorRoutes* routes) { routes_ = routes; }

  private:
    struct SeqRef {
        std::int32_t elec;
        const std::uint32_t* words;
        std::size_t count;
    };
    using Addr = std::pair<unsigned, unsigned>;

    // Builds one sequence packet per entry after every electrode has been found.
    int SendSequences(const std::vector<SeqRef>& seqs);
    // Looks every electrode up; false at the first without an address.
    bool FindStimAddrs(const std::vector<std::int32_t>& electrodes, std::vector<Addr>& out) const;
    // One configuration packet with a record of `length` bytes, published at once.
    int SendRecord(unsigned processor, unsigned module, unsigned prop, const void* record,
                   std::size_t length, std::uint32_t timestamp);
    bool SendDescriptor(std::uint32_t address, int propId, const void* desc, std::size_t length);

    KestConfigSink* sink_;
    KestOperatorRoutes* routes_;
    KestCache* cache_;
    mutable std::mutex tablesMutex_;
    std::map<int, Addr> stimAddr_;
    std::map<unsigned, unsigned> elecAddr_;
    std::mutex tasksMutex_;
    std::vector<KestClientTask*> tasks_;
};
