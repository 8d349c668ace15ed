// ModuleData: what the cache knows about one module of the processor.
//
// The latest copy of every property record the module sent, indexed by property index;
// the indices of the properties the library works with, found by the names in their
// property descriptors; the module's output streams with their names and rings; the
// ranges of a few blocks; and, for the processor's own module, the press counters of its
// front-panel buttons. The cache lock covers every call: the store has no lock of its own.
//
// Slots: each property slot is allocated once, when its first copy arrives, with room for
// the largest record a packet can carry and zero-filled, so a record struct laid over a
// slot never reads past the allocation and a pointer handed out stays valid for the life
// of the store. The slot length is the length of the latest copy; a shorter later copy
// leaves the bytes beyond it zero.
#pragma once

#include "cache/CacheRingSizes.h"
#include "cache/ContDataBuffer.h"
#include "cache/SpikeDataBuffer.h"
#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class ModuleData {
  public:
    // Properties found by the name of their property descriptor (the table in
    // ModuleData.cpp gives each one's name).
    enum class Prop : int {
        StimEnable,
        StimTrigger,
        StimScale,
        StimSource,
        StimType,
        StimEventTriggerMap,
        FastSettleStim,
        FastSettleSource,
        FastSettleStimDuration,
        FastSettleDuration,
        CaptureAnyParallelBitChange,
        ADCToPhysicalUnitsSelector,
        HardwareHighPassCorner,
        StimResolution,
        StimCalibration, // the descriptor's own index, not its value's
        StimExhaustingResistor,
        ImpedanceCycle,
        ImpedanceFreqList,
        ImpedanceCurrentList,
        ImpedanceControl,
        ImpedanceMeasurements,
        ImplantConnectionStatus,
        ImplantSearchTrigger,
        ImplantStatus,
        TransceiverCommand,
        ImplantCommandResponse,
        InternalBattery,
        ExternalBattery,
        ExternalBatteryDetected,
        WallSensor,
        VddSensor,
        StopStimButtonMonitor,
        StopStimButton,
        EventButtonMonitor,
        EventButton,
        EventLedMonitor,
        EventLed,
        F1ButtonMonitor,
        F1Button,
        F1LedMonitor,
        F1Led,
        F2ButtonMonitor,
        F2Button,
        F2LedMonitor,
        F2Led,
        PortALedMonitor,
        PortALed,
        PortBLedMonitor,
        PortBLed,
        PortCLedMonitor,
        PortCLed,
        PortDLedMonitor,
        PortDLed,
        RecordingTrialDescriptor,
        RestartPaxexecTrigger,
        AudioTone,
        StimLatency,
        Count
    };
    static constexpr int kPropCount = static_cast<int>(Prop::Count);

    // Front-panel buttons, numbered as the cache's button-count query takes them.
    enum Button : int { kStopStimButton = 1, kEventButton = 2, kF1Button = 3, kF2Button = 4 };

    // A store without slots (no module descriptor).
    ModuleData();
    // A store with one slot per property the descriptor announces (at least one, the
    // descriptor's own); slot 0 holds a copy of the first `length` bytes of the descriptor.
    explicit ModuleData(const KestModuleDesc* desc, std::size_t length = kKestModuleDescSize);
    // The same with rings of other sizes.
    ModuleData(const KestModuleDesc* desc, CacheRingSizes sizes);
    virtual ~ModuleData();
    ModuleData(const ModuleData&) = delete;
    ModuleData& operator=(const ModuleData&) = delete;

    // --- Intake

    // Stores the packet's record in its slot and acts on it (button presses, stream
    // descriptors, property and block descriptors). Reads at most `available` bytes of the
    // packet and never more than its size byte covers. Indices outside the slots are
    // ignored.
    void AddKestProperty(const KestConfigPacket* packet,
                         std::size_t available = std::numeric_limits<std::size_t>::max());

    // --- Slots

    bool HaveProperties() const;
    std::vector<unsigned> GetMissingPropIds() const;
    std::size_t GetNumProperties() const { return records_.size(); }
    std::uint32_t GetReceivedCount() const { return received_; }
    // Zeroes the slot's bytes (its type byte becomes 0) so that the next copy can be seen
    // arriving; the length stays.
    void ClearProperty(int index);
    std::size_t GetPropertySize(int index) const;
    KestProperty* GetKestProperty(int index) const;
    KestModuleDesc* GetModuleDesc() const;

    // --- Blocks

    // Block descriptors are looked for among the first blockCount block descriptors of
    // the module (module descriptor), in index order.
    KestBlockDesc* GetPropertyBlockDesc(const std::string& name) const;
    KestBlockDesc* GetBlockDesc(unsigned kind) const;
    KestBlockDesc* GetPhysicalChannelBlockDesc() const {
        return GetBlockDesc(kKestPhysicalChannelBlock);
    }
    KestBlockDesc* GetModuleScopePropertyBlockDesc() const {
        return GetBlockDesc(kKestModuleScopeBlock);
    }
    KestBlockDesc* GetProcessorPropertyBlockDesc() const {
        return GetBlockDesc(kKestProcessorBlock);
    }
    KestBlockDesc* GetOutputStreamBlockDesc() const { return GetBlockDesc(kKestOutputStreamBlock); }
    KestBlockDesc* GetStimControlBlockDesc() const;
    KestBlockDesc* GetSpikeThreshValuesBlockDesc() const;
    // (first index, end index) of the signal-selection and input-connection blocks;
    // (-1, -1) until their block descriptor has arrived.
    std::pair<int, int> GetSignalSelectionRange() const { return {sigSelFirst_, sigSelEnd_}; }
    std::pair<int, int> GetInputConnectionRange() const { return {inputFirst_, inputEnd_}; }

    // --- Streams

    KestOutputStreamDesc* GetOutputStreamDesc(unsigned stream) const;
    // 1 for a float stream, 0 for another kind, -1 without a descriptor.
    int IsFloatStream(unsigned stream) const;
    virtual int GetStreamId(const std::string& name) const;
    std::vector<std::string> GetStreamStrings() const;

    ContDataBuffer<short>* GetContDataBuffer(unsigned stream) const;
    ContDataBuffer<float>* GetFloatDataBuffer(unsigned stream) const;
    virtual SpikeDataBuffer<KestSegmentDataPacketFixed>* GetSpikeDataBuffer(unsigned stream);
    // The digital event ring when the module has exactly one, else null.
    SpikeDataBuffer<KestDigitalEventPacket>* GetEventDataBuffer() const;

    // The newest sample time of the 16-bit rings, compared by signed 32-bit difference;
    // 0 when none holds a sample.
    std::uint32_t GetPAXTime() const;

    // --- Filters

    KestComboBox* GetFilterComboBox(const std::string& name, int* index) const;
    KestSosFilterDesc* GetSosFilterDesc(const std::string& name, int item, int* index) const;
    std::vector<std::string> GetFilterStrings() const;

    // --- Named properties

    // The property index found for the name, or the entry's initial value (0 or -1) when
    // the module has not described it. Above 0 means the module offers the property.
    int GetPropId(Prop prop) const { return propIds_[static_cast<int>(prop)]; }
    // The slot of a named property whose index is above 0 (index written through `index`
    // when given); null otherwise or before its value arrived.
    KestProperty* GetNamedProperty(Prop prop, int* index = nullptr) const;

    KestBool* GetStimEnableBool(int* index = nullptr) const;
    KestBool* GetStimTriggerBool(int* index = nullptr) const;
    KestFloat* GetStimScaleFloat(int* index = nullptr) const;
    KestComboBox* GetStimTriggerSourceComboBox(int* index = nullptr) const;
    KestComboBox* GetStimTriggerTypeComboBox(int* index = nullptr) const;
    KestProperty* GetStimEventTriggerMap(int* index = nullptr) const;
    KestComboBox* GetFastSettleStimComboBox(int* index = nullptr) const;
    KestComboBox* GetFastSettleSourceComboBox(int* index = nullptr) const;
    KestFloat* GetFastSettleStimDurFloat(int* index = nullptr) const;
    KestFloat* GetFastSettleDurFloat(int* index = nullptr) const;
    KestBool* GetDigitalBitChangeBool(int* index = nullptr) const;
    KestComboBox* GetADC2PhysComboBox(int* index = nullptr) const;
    // Null also while the combo box is flagged unavailable (flags 0x0C).
    KestComboBox* GetHwLowCornerComboBox(int* index = nullptr) const;
    KestComboBox* GetStimResComboBox(int* index = nullptr) const;
    KestComboBox* GetExhaustComboBox(int* index = nullptr) const;
    KestAudioTone* GetAudioTone(int* index = nullptr) const;
    KestInteger* GetStimLatency(int* index = nullptr) const;
    KestInteger* GetInternalBatteryPct(int* index = nullptr) const;
    KestInteger* GetExternalBatteryPct(int* index = nullptr) const;
    KestBool* GetExternalBatteryDetected(int* index = nullptr) const;
    KestProperty* GetWallSensor(int* index = nullptr) const;
    KestProperty* GetVddSensor(int* index = nullptr) const;

    // The first value record of the "Stim Calibration" descriptor, with its index and the
    // number of value records.
    KestProperty* GetStimCalibTable(int* valueIndex, int* count) const;
    // The enable switch of a stream (led to by its first per-channel record).
    KestBool* GetSignalEnableProp(unsigned stream, int* index) const;
    // The physical channel record of a stream's channel.
    KestPhysicalChannelDesc* GetPhysChanDesc(unsigned stream, unsigned channel) const;
    virtual KestProperty* GetSpikeThreshValues(int channel, int* index) const;
    KestBool* GetHwGroundEnable(int channel, int* index) const;
    KestBool* GetHwReferenceEnable(int channel, int* index) const;
    // Input connection record i of the input-connection block; null outside the block.
    KestProperty* GetInputConnection(int i) const;
    bool HaveImpedancePropertyIds() const;

    // Panel properties by panel number (1 stop-stim, 2 event, 3 F1, 4 F2, 5-8 port
    // A-D LEDs); -1 when the number has no such property or the module lacks it.
    int GetButtonPropId(int number) const;
    int GetButtonMonitorPropId(int number) const;
    int GetLedPropId(int number) const;
    int GetLedMonitorPropId(int number) const;

    // --- Front-panel buttons (counted on module 0 only)

    std::uint32_t GetButtonCount(int button) const;
    // The presses since the previous take, resetting the counter; 0 for another id.
    std::uint32_t TakeButtonCount(int button);

  private:
    CacheRingSizes ringSizes_;
    template <typename Match> KestBlockDesc* FindBlock(Match match) const;
    KestProperty* SlotAt(long index) const;
    KestProperty* TypedSlot(long index, std::uint8_t type) const;
    KestBool* ChannelBool(const char* blockName, int channel, int* index) const;
    void CountButtonPress(unsigned index);
    void OnStreamDesc(unsigned index);
    void OnPropertyDesc(unsigned index);
    void OnBlockDesc(unsigned index);

    std::vector<std::unique_ptr<std::uint8_t[]>> records_;
    std::vector<std::size_t> lengths_;
    std::map<std::string, int> streamNames_;
    std::map<std::string, int> filterNames_;
    std::uint32_t received_ = 0;
    std::uint32_t buttons_[4] = {};
    int propIds_[kPropCount];
    int sigSelFirst_ = -1;
    int sigSelEnd_ = -1;
    int inputFirst_ = -1;
    int inputEnd_ = -1;
    std::set<unsigned> blockIndices_; // slots whose record arrived as a block descriptor
    std::map<unsigned, std::unique_ptr<SpikeDataBuffer<KestDigitalEventPacket>>> digitalRings_;
    std::map<unsigned, std::unique_ptr<SpikeDataBuffer<KestSegmentDataPacketFixed>>> segmentRings_;
    std::map<unsigned, std::unique_ptr<ContDataBuffer<short>>> shortRings_;
    std::map<unsigned, std::unique_ptr<ContDataBuffer<float>>> floatRings_;
};
