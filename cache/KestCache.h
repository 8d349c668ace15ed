// KestCache: the process-wide model of one processor and of the operator applications
// connected to it. The link threads hand it every packet (ProcKestPacket); the library
// reads it through locked queries.
#pragma once

#include "cache/CacheRingSizes.h"
#include "cache/ErrorBuffer.h"
#include "cache/KestCacheTypes.h"
#include "cache/PacketRun.h"
#include "protocol/KestPacket.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class ModuleData;
struct KestStreamSwitch;
template <typename T> class ContDataBuffer;
template <typename T> class SpikeDataBuffer;
struct KestErrorMessage_t;
struct HeldWindow;

class KestCache {
  public:
    using ErrorCallbackFn = void (*)(void* userData, const KestErrorMessage_t* message);
    struct ErrorCallback {
        ErrorCallbackFn fn;
        void* userData;
    };

    KestCache();
    // A cache whose rings are smaller than the processor's data need (for tests that build
    // many caches).
    explicit KestCache(CacheRingSizes ringSizes);
    virtual ~KestCache();
    KestCache(const KestCache&) = delete;
    KestCache& operator=(const KestCache&) = delete;

    // --- Virtual slots (a derived cache may map electrodes or properties differently).
    // Module of an electrode's physical channel, -1 when unknown. Takes no lock.
    virtual int GetHWModule(unsigned electrode);
    // (lower, upper) spike thresholds of an electrode; (-6554, 6554) when unknown.
    virtual std::pair<float, float> GetSpikeThreshValues(int electrode, int* module, int* index);
    virtual void ClearKestProperty(unsigned module, unsigned index);
    virtual KestProperty* GetKestProperty(unsigned module, unsigned index);
    virtual std::size_t GetPropertySize(unsigned module, unsigned index);
    // Called with the lock held: sets initialised and builds the electrode map once
    // every module and property has arrived.
    virtual bool CheckInit();

    // --- Packet intake. The packet is size * 4 bytes long; returns 0. `source` is the
    // endpoint the link received it from (an IPv4 address in network order, see
    // kKestNoSource): an operator's descriptors are stored under the operator's address.
    int ProcKestPacket(const KestPacket* packet, std::uint32_t source = kKestNoSource);
    // Every packet of `count` runs under one hold of the lock (released only to hand an
    // error message to the callbacks). With `configOnly`, data packets are passed over;
    // returns how many were. A run that does not end on a whole packet has its rest dropped
    // and counted as malformed. See KestCacheBatchIntake.cpp.
    // Packets refused for claiming the processor's id in a run from another endpoint are
    // added to `*refused` when it is given.
    std::size_t ProcKestPackets(const KestPacketRun* runs, std::size_t count,
                                bool configOnly = false, std::uint64_t* refused = nullptr);
    // Packets dropped because they were shorter than what they announce.
    std::uint64_t GetMalformedCount() const;

    // --- Waiting for configuration packets from the processor (echoes of property writes).
    // A count that moves on after every intake that took in at least one of them.
    std::uint64_t ConfigArrivals() const { return configArrivals_.load(); }
    // Waits until ConfigArrivals() differs from `seen` or `deadline` (monotonic) has passed;
    // true when it differs. The link thread wakes the waiters after its intake, without
    // holding the cache's lock. See KestCacheEchoWait.cpp.
    bool WaitForConfig(std::uint64_t seen, std::chrono::steady_clock::time_point deadline);

    // --- Readiness.
    bool HaveModules() const;
    bool HaveProperties() const;
    bool IsInit() const;
    // 0 ready, 1 no processor time yet, 2 modules missing, 3 properties missing,
    // 4 configuration changed, 5 complete but not yet initialised.
    int GetStatus() const;
    std::vector<unsigned> GetModuleList();
    std::vector<unsigned> GetBadModules();
    // Counts of the handshake's progress under one hold of the lock, without building the
    // lists above. See KestCacheProgress.cpp.
    KestCacheProgress GetProgress() const;
    std::vector<int> GetMissingPropIds(unsigned module);
    int GetNumProperties(unsigned module);
    bool HaveHWModule(unsigned module);
    bool HaveElectrode(unsigned electrode);

    // --- Addressing.
    static unsigned GetElectrodeID(unsigned port, unsigned slot, unsigned channel);
    static int GetElecIDByChanDesc(const KestPhysicalChannelDesc* record, unsigned module);
    static std::uint32_t GetGUID(unsigned processor, unsigned module, unsigned index);
    static void GetAddrByGUID(std::uint32_t guid, unsigned* processor, unsigned* module,
                              unsigned* index);
    unsigned GetElecList(unsigned* out, unsigned max, const char* pattern);
    std::map<unsigned, std::pair<unsigned, unsigned>> GetStimAddr();

    // --- Processor and modules.
    std::uint32_t GetPAXTime();
    const KestModuleDesc* GetPAXModuleDesc();
    const KestProcessorDesc* GetProcDesc();
    int GetButtonCount(int button);
    std::unique_lock<std::mutex> GetLock();

    // --- Operators and descriptors. An address is an IPv4 address in network order. The
    // processor's descriptors are kept under its processor id (the host part below 128),
    // an operator's under the address it was received from; host part 0 picks the first
    // entry.
    // Copies owned by the caller; null when there is no entry or the entry is empty.
    std::unique_ptr<KestRecordingTrialDescriptor> GetTrialDescriptor(std::uint32_t address);
    std::unique_ptr<BmFeSignalSelectionDesc> GetSignalSelectionDescriptor(std::uint32_t address);
    void ResetTrialDescriptor(std::uint32_t address);
    void ResetSignalSelectionDescriptor(std::uint32_t address);
    unsigned GetOperators(unsigned* out, unsigned max);
    bool CheckProcID(std::uint32_t address);
    int GetTrialDescriptorPropID(std::uint32_t address);
    int GetSignalSelectionDescriptorPropID(std::uint32_t address);
    BmFeSignalSelectionDesc* GetFileSaveSelectionProp(unsigned electrode, unsigned* index);

    // --- Error queue and callbacks.
    ErrorBuffer& GetErrorBuffer() { return errors_; }
    bool RegisterKestErrorCallback(ErrorCallbackFn fn, void* userData);
    void UnregisterKestErrorCallback(ErrorCallbackFn fn, void* userData);

    // --- Property queries (electrode ids 0-based). See KestCacheQueries.cpp.
    KestBool* GetStimModuleEnable(int electrode, int* module, int* index);
    KestBool* GetModuleStimTriggerEnable(int electrode, int* module, int* index);
    KestFloat* GetStimScaleFloat(int electrode, int* module, int* index);
    KestComboBox* GetStimTriggerSourceComboBox(int electrode, int* module, int* index);
    KestComboBox* GetStimTriggerTypeComboBox(int electrode, int* module, int* index);
    KestProperty* GetStimEventTriggerMap(int electrode, int* module, int* index);
    KestComboBox* GetFastSettleStimComboBox(int electrode, int* module, int* index,
                                            char (*items)[128]);
    KestComboBox* GetFastSettleSourceComboBox(int electrode, int* module, int* index,
                                              char (*items)[128]);
    KestFloat* GetFastSettleStimDurFloat(int electrode, int* module, int* index);
    KestFloat* GetFastSettleDurFloat(int electrode, int* module, int* index);
    KestComboBox* GetADC2PhysComboBox(int electrode, int* module, int* index);
    KestComboBox* GetHwLowCornerComboBox(int electrode, int* module, int* index, char* unused);
    KestBool* GetHwGroundEnable(int electrode, int* module, int* index);
    KestBool* GetHwReferenceEnable(int electrode, int* module, int* index);
    KestComboBox* GetStimResComboBox(int electrode, int* module, int* index);
    KestComboBox* GetExhaustComboBox(int electrode, int* module, int* index);
    KestModuleDesc* GetModuleDesc(int electrode, int* module);
    KestComboBox* GetFilterComboBox(int electrode, const std::string& name, int* module,
                                    int* index);
    KestSosFilterDesc* GetSosFilterDesc(int electrode, const std::string& name, int item,
                                        int* module, int* index);
    KestOutputStreamDesc* GetOutputStreamDesc(int electrode, const std::string& name, int* module,
                                              int* stream);
    int GetSignalEnableProp(int electrode, const std::string& name, int* module, int* index,
                            int* count);
    KestBool* GetGlobalStimEnable(int* module, int* index);
    KestBool* GetGlobalStimTriggerEnable(int* module, int* index);
    KestAudioTone* GetAudioTone(int* module, int* index);
    KestProperty* GetStimLatency(int* module, int* index);
    KestProperty* GetWallSensor();
    KestProperty* GetVddSensor();
    int GetInternalBatteryPct();
    int GetExternalBatteryPct();
    bool GetExternalBatteryDetected();
    KestBool* GetDigitalCaptureBitChange(int* module, int* index);
    int GetDigIOSignalProp(int* module, int* index);
    float GetSpikeConv(int electrode);
    float GetStimConv(int electrode);
    std::uint32_t GetStimCalibData(int electrode, unsigned short* table, int* module, int* index);
    // Number of resolution options written to values, 0 when anything is missing and
    // -1 when an item text is not a number.
    int GetStimResOptions(int electrode, float* values);
    int GetExhaustOptions(int electrode, float* values);
    int GetStreamStrings(char (*out)[128], int max, int electrode);
    int GetFilterStrings(char (*out)[128], int max, int electrode);
    int GetOutputStrings(char (*out)[128], int module);
    // Throws std::runtime_error when the electrode, its descriptor or a readable
    // version text is missing.
    KestFEVersion GetFEVersion(int electrode);
    bool HasStimCalib(int electrode);
    bool HasMaxStimLimit(int electrode);

    // --- Copies taken under the lock. See KestCacheCopies.cpp.
    // Resolves an electrode's stream (the processing module when the hardware module lacks
    // it; the channel's own stream for per-channel streams) and its enable switches. False
    // when the electrode has no descriptor for the stream.
    bool GetStreamSwitch(int electrode, const std::string& name, KestStreamSwitch* out);
    // The processor's file-save selection of the electrode's front end, copied whole.
    bool CopyFileSaveSelection(unsigned electrode, BmFeSignalSelectionDesc* out, unsigned* index);
    // --- Peripheral lookups. See KestCachePeripherals.cpp.
    // Index (above 0) of the named property `prop` (a ModuleData::Prop value) of a module;
    // -1 when the module is unknown or does not offer the property.
    int GetNamedPropId(unsigned module, int prop);
    // Index of module 0's panel property for panel number 1-8 (buttons 1-4, LEDs 2-8); -1
    // when the number has no such property, or module 0 is unknown or does not offer it.
    int GetPanelPropId(KestPanelProp kind, int number);
    // --- Locked copies for the stimulation calls. See KestCacheStimCopies.cpp.
    // Copies the stored record of (module, index) into dest under the lock: min(stored size,
    // capacity) bytes, the rest of dest up to capacity zeroed. Returns the stored size; 0
    // (dest untouched) when the record is missing, cleared by an unanswered confirmed write
    // (type byte 0) or shorter than `minimum`.
    std::size_t CopyPropertyRecord(unsigned module, unsigned index, void* dest,
                                   std::size_t capacity, std::size_t minimum);
    // The first `max` options of the electrode's resolution or exhausting-resistor combo box
    // (as GetStimResOptions / GetExhaustOptions); returns how many were written, 0 when
    // anything is missing, -1 when a resolution item text is not a number.
    int GetStimResOptions(int electrode, float* values, int max);
    int GetExhaustOptions(int electrode, float* values, int max);
    // Address of the electrode's calibration status record and the number of value records
    // of its "Stim Calibration" descriptor (status record included); 0 when it has none.
    int GetStimCalibAddress(int electrode, int* module, int* index);
    // --- Front-end records, copied under one hold of the lock. See KestCacheFrontEnd.cpp.
    // Copies property `index` of `module` into `out` (at most `capacity` bytes). Returns the
    // stored length, 0 when the record is missing, cleared (type byte 0; copied all the same
    // when `cleared` is true), of another type than `type` (0: any) or shorter than
    // `minimum`.
    std::size_t CopyKestProperty(unsigned module, unsigned index, void* out, std::size_t capacity,
                                 std::uint8_t type = 0, std::size_t minimum = 1,
                                 bool cleared = false);
    // Writes `length` bytes at `offset` of a stored record (within its stored length).
    bool PatchKestProperty(unsigned module, unsigned index, std::size_t offset, const void* bytes,
                           std::size_t length);
    // Item texts of combo box `box` of `module` into at most `capacity` slots; an item not
    // received yet is empty. Returns the number written.
    int CopyComboItems(unsigned module, const KestComboBox& box, char (*items)[128], int capacity);
    // Hardware module of an electrode, -1 when unknown (under the lock).
    int FindHWModule(unsigned electrode);
    // Index of a named property (ModuleData::Prop) of a module, -1 when the module is unknown
    // or does not offer it.
    int GetNamedPropIndex(unsigned module, int prop);
    // (first, end) of a module's input-connection block; (-1, -1) without one.
    std::pair<int, int> GetInputConnectionBlock(unsigned module);
    // The text naming what drives output `channel` of `module` (33 or 34): "Disabled", or
    // "<channel name> - <stream name>". 0 on success; -1 when the module, its input
    // connection or the source module is missing; -2 when a digital output's source module
    // has no segment stream; -3 when the source channel has no name.
    int GetOutputSourceText(unsigned module, int channel, std::string* text);

    // --- Continuous retrieval. See KestCacheRetrieval.cpp.
    int GetContData(std::uint32_t* outTime, float* dest, std::uint32_t count, unsigned electrode,
                    unsigned module, unsigned stream, std::uint32_t time, bool scale);
    int GetContDataRaw(std::uint32_t* outTime, float* dest, std::uint32_t count,
                       const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                       std::uint32_t time);
    int GetContDataLFP(std::uint32_t* outTime, float* dest, std::uint32_t count,
                       const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                       std::uint32_t time);
    int GetContDataEMG(std::uint32_t* outTime, float* dest, std::uint32_t count,
                       const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                       std::uint32_t time);
    int GetContDataSpkPreview(std::uint32_t* outTime, float* dest, std::uint32_t count,
                              const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                              std::uint32_t time);
    int GetContDataFloat(std::uint32_t* outTime, float* dest, std::uint32_t count,
                         const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                         std::uint32_t time);
    int GetContDataHiFreqFloat(std::uint32_t* outTime, float* dest, std::uint32_t count,
                               const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                               std::uint32_t time);
    int GetContDataStatus(std::uint32_t* outTime, float* dest, std::uint32_t count,
                          const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                          std::uint32_t time);
    int GetContDataByModule(std::uint32_t* outTime, float* dest, std::uint32_t count,
                            unsigned module, const std::string& streamName, std::uint32_t time,
                            bool scale);
    // Continuous windows of several electrodes, settled under one hold of the lock and copied
    // under short holds a block of rows at a time (the rings keep the rows meanwhile), straight
    // into a column-major double matrix whose columns are `leading` values apart: sample j of
    // electrodes[k] (channel electrodes[k] mod 32) lands at dest[j * leading + k]. Each run
    // names the rows of electrodes read from one stream of one module; each run's ring is
    // walked once, a block of rows at a time. Time 0 reads the newest `count` samples of the
    // first run that has any and every later run from that run's start time; when a later
    // ring has already moved past that time, the common start moves on just as far, so that
    // every row stays aligned. Otherwise the samples from `time` on (a time the rings no
    // longer hold gives nothing, with the rings' warning). delivered[k] receives the samples
    // written for electrodes[k] (0 for a channel its ring does not carry); *outTime the time
    // of the first column when anything was read. Returns the samples of the last row.
    int GetContDataBlock(std::uint32_t* outTime, double* dest, std::size_t leading,
                         std::uint32_t count, const KestContBlockRun* runs, std::size_t runCount,
                         const std::uint32_t* electrodes, std::uint32_t* delivered,
                         std::uint32_t time, bool scale);

    // --- Event retrieval. See KestCacheEvents.cpp.
    int GetSegmentData(KestSegmentDataPacketFixed* dest, int* destSequences, std::uint32_t max,
                       unsigned module, unsigned stream);
    int GetSpikeData(KestSegmentDataPacketFixed* dest, int* destSequences, std::uint32_t max,
                     unsigned electrode);
    int GetStimData(KestSegmentDataPacketFixed* dest, int* destSequences, std::uint32_t max,
                    unsigned electrode);
    int GetDigitalInput(KestDigitalEventPacket* dest, int* destSequences, std::uint32_t max);
    std::vector<KestSegmentBlock> GetSpikesByElec(const std::vector<unsigned>& electrodes);
    std::vector<KestSegmentBlock> GetStimDataByElec(const std::vector<unsigned>& electrodes);
    std::vector<KestSegmentCount> GetSpikeCountsByElec(const std::vector<unsigned>& electrodes);
    std::vector<KestSegmentCount> GetStimCountsByElec(const std::vector<unsigned>& electrodes);

  protected:
    // Lock-free helpers for code that already holds the lock.
    ModuleData* FindModule(unsigned module) const;
    std::uint32_t ExpectedModules() const { return expectedModules_; }

  private:
    CacheRingSizes ringSizes_;
    // Where the data packets of one stream of one module go, resolved once per stream.
    struct StreamRoute {
        ContDataBuffer<short>* shorts = nullptr;
        ContDataBuffer<float>* floats = nullptr;
        SpikeDataBuffer<KestSegmentDataPacketFixed>* segments = nullptr;
    };
    struct ModuleEntry {
        std::unique_ptr<ModuleData> store;
        std::unique_ptr<std::array<StreamRoute, 256>> routes;
    };
    enum class Kind { Raw, LFP, EMG, SpkPreview, HiRes, HiFreq, Status };

    // An error message taken in under the lock, handed to the callbacks after it.
    struct DeferredError {
        KestErrorMessage_t* message = nullptr;
        std::vector<ErrorCallback> callbacks;
    };

    // One packet of an intake, under the lock.
    void IntakeLocked(const KestPacket* packet, std::uint32_t source, DeferredError& deferred);
    static void Deliver(DeferredError& deferred);
    // Wakes the waiters of WaitForConfig; called without the lock.
    void ConfigArrived();
    void ProcessorPacket(const KestPacket* packet, DeferredError& deferred);
    void OperatorPacket(const KestPacket* packet, std::uint32_t source);
    void ProcessorConfigPacket(const KestConfigPacket* packet, DeferredError& deferred);
    void ProcessorDataPacket(const KestPacket* packet);
    void ErrorPacket(const KestConfigPacket* packet, DeferredError& deferred);
    void StoreDescriptor(std::uint32_t key, const std::uint8_t* record, std::size_t length,
                         bool trial);
    void BuildInternalData();
    void Malformed();
    StreamRoute* Route(ModuleEntry& entry, unsigned stream);
    // Turns at the lock between the link and reads copied in pieces: while such a read runs,
    // a link waiting for the lock goes before the read's next piece. See KestCacheTurns.cpp.
    class PieceReader;
    std::unique_lock<std::mutex> TakeForIntake() {
        if (pieceReaders_.load(std::memory_order_relaxed) == 0) {
            return std::unique_lock<std::mutex>(lock_);
        }
        return TakeForIntakeInTurn();
    }
    std::unique_lock<std::mutex> TakeForIntakeInTurn();
    void TakeForPiece(std::unique_lock<std::mutex>& hold);
    bool HavePropertiesUnlocked() const;
    bool HaveModulesUnlocked() const;
    int GetContDataUnlocked(std::uint32_t* outTime, float* dest, std::uint32_t count,
                            unsigned electrode, ModuleData* store, unsigned stream,
                            std::uint32_t time, bool scale);
    int GetContDataMulti(Kind kind, std::uint32_t* outTime, float* dest, std::uint32_t count,
                         const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                         std::uint32_t time);
    // The windows a GetContDataMulti read copies, settled under the lock; returns what the
    // read returns. With startFromOut a front end read from its newest rows gives the start
    // of its later electrodes through *outTime.
    int PlanContWindows(Kind kind, std::uint32_t* outTime, float* dest, std::uint32_t count,
                        const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                        std::uint32_t time, bool startFromOut, std::vector<HeldWindow>& windows);
    int PlanWindow(ModuleData* store, unsigned stream, std::uint32_t time, std::uint32_t count,
                   std::uint32_t* outTime, HeldWindow& window);
    int GetSegmentDataUnlocked(KestSegmentDataPacketFixed* dest, int* destSequences,
                               std::uint32_t max, ModuleData* store, unsigned stream);
    SpikeDataBuffer<KestSegmentDataPacketFixed>* SegmentRing(unsigned electrode, bool stim,
                                                             const char* caller);
    KestFEVersion GetFEVersionUnlocked(int electrode);
    template <typename Getter> auto ModuleQuery(unsigned module, int* outModule, Getter get);
    // ModuleQuery on module hw + offset of an electrode; nothing for hw < 0.
    template <typename Getter> auto ElectrodeQuery(int hw, int offset, int* outModule, Getter get);

    std::map<std::uint32_t, ModuleEntry> modules_;
    std::map<std::uint32_t, std::uint32_t> electrodes_;
    std::uint32_t processorTime_ = 0;
    std::uint32_t expectedModules_ = 0xFFFFFFFF;
    std::map<std::uint32_t, std::unique_ptr<KestRecordingTrialDescriptor>> trialDescs_;
    std::map<std::uint32_t, std::unique_ptr<BmFeSignalSelectionDesc>> selectionDescs_;
    bool initialised_ = false;
    bool intact_ = true;
    std::uint64_t malformed_ = 0;
    mutable std::mutex lock_;
    // Reads copying in pieces now, and links waiting for the lock meanwhile.
    std::atomic<int> pieceReaders_{0};
    std::atomic<int> intakeWaiting_{0};
    ErrorBuffer errors_;
    std::vector<ErrorCallback> callbacks_;
    // Module entries by id for the packet path (ids are one byte on the wire).
    std::array<ModuleEntry*, 256> byId_{};
    std::atomic<std::uint64_t> configArrivals_{0};
    std::atomic<int> configWaiters_{0};
    std::mutex arrivalMutex_;
    std::condition_variable arrival_;
};
