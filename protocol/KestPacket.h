// KEST wire format: the packet header, configuration packets with their property
// address, the property records they carry, and the data packets of output streams.
//
// Every multi-byte field is little-endian. The host must be little-endian too, so the
// records below are read in place; fields that the format puts at offsets that are not
// a multiple of their width are byte arrays read through LoadLe / StoreLe.
//
// Records are cast onto byte buffers: packets in receive buffers and rings start on
// 4-byte boundaries and no record needs more than 4-byte alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the KEST records are read in place");

namespace kest {

template <typename T> inline T LoadLe(const void* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <typename T> inline void StoreLe(void* bytes, T value) {
    std::memcpy(bytes, &value, sizeof value);
}

} // namespace kest

// Sizes fixed by the format.
constexpr std::size_t kKestHeaderSize = 8;        // every packet
constexpr std::size_t kKestConfigHeaderSize = 12; // header + property address
constexpr std::size_t kKestMaxPacketSize = 1020;  // 255 words
constexpr std::size_t kKestMaxRecordSize = kKestMaxPacketSize - kKestConfigHeaderSize;

// Header byte 3: stream 0 is configuration, any other value a data stream.
constexpr std::uint8_t kKestConfigStream = 0;
// Header byte 1 of packets from the processor itself.
constexpr std::uint8_t kKestProcessorId = 1;

// Reserved property addresses.
constexpr std::uint16_t kKestErrorPropIndex = 0xFFFE;
constexpr std::uint16_t kKestAllPropsIndex = 0xFFFF;
constexpr std::uint8_t kKestAllProcessors = 255;
constexpr std::uint8_t kKestAllModules = 255;
constexpr std::uint8_t kKestOperatorProcId = 150;
constexpr std::uint16_t kKestOperatorTrialPropIndex = 0x7FFF;
constexpr std::uint16_t kKestOperatorSignalSelectionPropIndex = 0x80A1;

// Module ids with a fixed role.
constexpr unsigned kKestAnalogModule = 33;
constexpr unsigned kKestDigitalModule = 34;
constexpr std::uint16_t kKestDigitalOutputPropIndex = 53;

// Record types (record byte 1).
enum KestRecordType : std::uint8_t {
    kKestRecordCleared = 0,
    kKestBlockDescType = 1,
    kKestPropertyDescType = 2,
    kKestBoolType = 3,
    kKestIntegerType = 4,
    kKestFloatType = 5,
    kKestComboBoxType = 7,
    kKestModuleDescType = 9,
    kKestProcessorDescType = 12,
    kKestOutputStreamDescType = 18,
    kKestTrialDescType = 21,
    kKestImplantStatusType = 24,
    kKestSosFilterDescType = 26,
    kKestSensorType = 29,
    kKestStimEventTriggerMapType = 30,
    kKestTransceiverCommandType = 32,
    kKestAudioToneType = 35,
    kKestSignalSelectionDescType = 131,
};

// Block kinds (block descriptor byte 5).
enum KestBlockKind : std::uint8_t {
    kKestModuleScopeBlock = 2,
    kKestProcessorBlock = 12,
    kKestPhysicalChannelBlock = 14,
    kKestInputConnectionBlock = 15,
    kKestOutputStreamBlock = 18,
    kKestSignalSelectionBlock = 131,
};

// Data kinds: output stream descriptor byte 4 and data packet byte 8.
enum KestDataKind : std::uint8_t {
    kKestContinuousData = 1, // 16-bit continuous (descriptor), continuous (packet)
    kKestSegmentData = 2,
    kKestContinuousData16 = 4,
    kKestDigitalEventData = 6,
    kKestFloatData = 8,
};

// Output stream and continuous packet flags that mark data as not available.
constexpr std::uint8_t kKestStreamUnavailableFlags = 0x0C;
// Physical channel flag: channel not in use.
constexpr std::uint8_t kKestChannelUnusedFlag = 0x04;

// ---------------------------------------------------------------------------
// Packets

struct KestPacket {
    std::uint8_t size;       // length in 32-bit words, header included
    std::uint8_t procId;     // source: 1 the processor, above 128 an operator
    std::uint8_t moduleId;   // module that produced the packet
    std::uint8_t streamId;   // 0 configuration, else data stream
    std::uint32_t timestamp; // processor clock, 30 kHz ticks

    std::size_t ByteSize() const { return std::size_t(size) * 4; }
    const std::uint8_t* Bytes() const { return reinterpret_cast<const std::uint8_t*>(this); }
    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(this); }
    bool IsConfig() const { return streamId == kKestConfigStream; }
};
static_assert(sizeof(KestPacket) == 8);
static_assert(offsetof(KestPacket, timestamp) == 4);

struct KestConfigPacket {
    KestPacket header;
    std::uint8_t targetProcId; // 1 the processor, 255 every processor, 150 an operator
    std::uint8_t moduleId;     // module that owns the property, 255 every module
    std::uint16_t propIndex;   // 0xFFFF every property of the module

    // Bytes of the record that the size byte covers (0 for a request or a short packet).
    std::size_t RecordLength() const {
        std::size_t bytes = header.ByteSize();
        return bytes > kKestConfigHeaderSize ? bytes - kKestConfigHeaderSize : 0;
    }
    const std::uint8_t* Record() const { return header.Bytes() + kKestConfigHeaderSize; }
    std::uint8_t* Record() { return header.Bytes() + kKestConfigHeaderSize; }
    std::uint8_t RecordType() const { return RecordLength() >= 2 ? Record()[1] : 0; }
};
static_assert(sizeof(KestConfigPacket) == 12);
static_assert(offsetof(KestConfigPacket, targetProcId) == 8);
static_assert(offsetof(KestConfigPacket, moduleId) == 9);
static_assert(offsetof(KestConfigPacket, propIndex) == 10);

// Data packet head (stream id not 0).
struct KestDataPacket {
    KestPacket header;
    std::uint8_t dataKind; // 1 continuous, 2 segment event, 6 digital event
    std::uint8_t reserved;
    std::uint16_t flagsOrSeq; // continuous: flags; events: sequence counter

    const std::uint8_t* Payload() const { return header.Bytes() + 12; }
};
static_assert(sizeof(KestDataPacket) == 12);
static_assert(offsetof(KestDataPacket, dataKind) == 8);
static_assert(offsetof(KestDataPacket, flagsOrSeq) == 10);

constexpr std::size_t kKestSegmentWaveformSamples = 52;

// Spike and stimulation segment packet, stored whole (120 bytes, size 30).
struct KestSegmentDataPacketFixed {
    KestPacket header;
    std::uint8_t dataKind;
    std::uint8_t reserved;
    std::uint16_t sequence;
    std::uint16_t unit; // classification of the segment
    std::uint16_t reserved2;
    std::int16_t waveform[kKestSegmentWaveformSamples]; // counts
};
static_assert(sizeof(KestSegmentDataPacketFixed) == 120);
static_assert(offsetof(KestSegmentDataPacketFixed, sequence) == 10);
static_assert(offsetof(KestSegmentDataPacketFixed, unit) == 12);
static_assert(offsetof(KestSegmentDataPacketFixed, waveform) == 16);

// Digital input event packet, first 28 bytes stored (size 7).
struct KestDigitalEventPacket {
    KestPacket header;
    std::uint8_t dataKind;
    std::uint8_t reserved;
    std::uint16_t sequence;
    std::uint8_t reason; // why the event was sent
    std::uint8_t reserved2;
    std::uint16_t parallel; // parallel port value
    std::uint16_t sma[4];   // the four single-line inputs
    std::uint32_t reserved3;
};
static_assert(sizeof(KestDigitalEventPacket) == 28);
static_assert(offsetof(KestDigitalEventPacket, sequence) == 10);
static_assert(offsetof(KestDigitalEventPacket, reason) == 12);
static_assert(offsetof(KestDigitalEventPacket, parallel) == 14);
static_assert(offsetof(KestDigitalEventPacket, sma) == 16);

// ---------------------------------------------------------------------------
// Property records (offsets count from the start of the record, packet offset 12)

// Common head of every record.
struct KestProperty {
    std::uint8_t version; // 1 in every record the library builds
    std::uint8_t type;    // KestRecordType; 0 = cleared, awaiting a fresh copy
    std::uint8_t flags;
    std::uint8_t reserved;
};
static_assert(sizeof(KestProperty) == 4);

struct KestBlockDesc {
    KestProperty head;
    std::uint8_t reserved;
    std::uint8_t kind; // KestBlockKind
    std::uint16_t count;
    std::uint16_t first;
    std::uint8_t reserved2[10];
    char name[128];
};
static_assert(offsetof(KestBlockDesc, kind) == 5);
static_assert(offsetof(KestBlockDesc, count) == 6);
static_assert(offsetof(KestBlockDesc, first) == 8);
static_assert(offsetof(KestBlockDesc, name) == 20);

struct KestPropertyDesc {
    KestProperty head;
    std::uint8_t reserved;
    std::uint8_t valueType; // a record type
    std::uint16_t valueCount;
    std::uint16_t valueIndex;
    std::uint16_t reserved2;
    char name[128];
};
static_assert(offsetof(KestPropertyDesc, valueType) == 5);
static_assert(offsetof(KestPropertyDesc, valueCount) == 6);
static_assert(offsetof(KestPropertyDesc, valueIndex) == 8);
static_assert(offsetof(KestPropertyDesc, name) == 12);

constexpr std::size_t kKestModuleDescSize = 344;

struct KestModuleDesc {
    KestProperty head;
    std::uint8_t reserved[6];
    std::uint16_t moduleClass; // 1 and 6 front end, 4 analog input/output
    std::uint16_t blockCount;
    std::uint16_t propertyCount; // descriptor included
    std::uint8_t reserved2[136];
    char label[128];
    char swVersion[16];
    char hwVersion[48];
};
static_assert(sizeof(KestModuleDesc) == kKestModuleDescSize);
static_assert(offsetof(KestModuleDesc, moduleClass) == 10);
static_assert(offsetof(KestModuleDesc, blockCount) == 12);
static_assert(offsetof(KestModuleDesc, propertyCount) == 14);
static_assert(offsetof(KestModuleDesc, label) == 152);
static_assert(offsetof(KestModuleDesc, swVersion) == 280);
static_assert(offsetof(KestModuleDesc, hwVersion) == 296);

struct KestProcessorDesc {
    KestProperty head;
    std::uint16_t reserved;
    std::uint16_t moduleCount; // modules besides module 0
    std::uint8_t reserved2[256];
    char serial[64];
};
static_assert(offsetof(KestProcessorDesc, moduleCount) == 6);
static_assert(offsetof(KestProcessorDesc, serial) == 264);

struct KestPhysicalChannelDesc {
    KestProperty head; // flags bit 2: channel not in use
    std::uint8_t reserved;
    std::uint8_t port;
    std::uint8_t slot;
    std::uint8_t reserved2;
    std::uint16_t channel;
    std::uint8_t reserved3[10];
    float hwStatusScale;
    std::uint8_t reserved4[8];
    char name[64];
};
static_assert(offsetof(KestPhysicalChannelDesc, port) == 5);
static_assert(offsetof(KestPhysicalChannelDesc, slot) == 6);
static_assert(offsetof(KestPhysicalChannelDesc, channel) == 8);
static_assert(offsetof(KestPhysicalChannelDesc, hwStatusScale) == 20);
static_assert(offsetof(KestPhysicalChannelDesc, name) == 32);

struct KestOutputStreamDesc {
    KestProperty head;     // flags 0x0C: not available
    std::uint8_t dataKind; // KestDataKind
    std::uint8_t period;   // sample period in ticks
    std::uint16_t firstChannelRecord;
    std::uint16_t channelCount;
    std::uint16_t reserved;
    float adcScale; // microvolts per count
    std::uint8_t reserved2[4];
    char label[128];
    char name[32];
};
static_assert(offsetof(KestOutputStreamDesc, dataKind) == 4);
static_assert(offsetof(KestOutputStreamDesc, period) == 5);
static_assert(offsetof(KestOutputStreamDesc, firstChannelRecord) == 6);
static_assert(offsetof(KestOutputStreamDesc, channelCount) == 8);
static_assert(offsetof(KestOutputStreamDesc, adcScale) == 12);
static_assert(offsetof(KestOutputStreamDesc, label) == 20);
static_assert(offsetof(KestOutputStreamDesc, name) == 148);

// Per-channel record of an output stream.
struct KestStreamChannelRecord {
    KestProperty head;
    std::uint16_t physChannelIndex; // index of the channel's physical channel record
    std::uint16_t reserved;
    std::uint16_t enableIndex; // first record only: the stream's enable switch
    std::uint16_t reserved2;
};
static_assert(offsetof(KestStreamChannelRecord, physChannelIndex) == 4);
static_assert(offsetof(KestStreamChannelRecord, enableIndex) == 8);

struct KestBool {
    KestProperty head;
    std::uint8_t value; // 0 or 1
    std::uint8_t reserved[3];
};
static_assert(sizeof(KestBool) == 8);
static_assert(offsetof(KestBool, value) == 4);

struct KestInteger {
    KestProperty head;
    std::int32_t value;
};
static_assert(sizeof(KestInteger) == 8);

struct KestFloat {
    KestProperty head;
    float value;
};
static_assert(sizeof(KestFloat) == 8);

constexpr std::size_t kKestComboBoxSize = 140;

struct KestComboBox {
    KestProperty head;
    std::uint16_t selection; // 0-based
    std::uint16_t reserved;
    std::uint16_t firstItem; // property index of the first item record
    std::uint16_t itemCount;
    std::uint8_t reserved2[128];
};
static_assert(sizeof(KestComboBox) == kKestComboBoxSize);
static_assert(offsetof(KestComboBox, selection) == 4);
static_assert(offsetof(KestComboBox, firstItem) == 8);
static_assert(offsetof(KestComboBox, itemCount) == 10);

struct KestComboBoxItem {
    KestProperty head;
    std::uint16_t reserved;
    std::uint16_t propIndex; // property the item stands for (a filter's SOS descriptor)
    std::uint32_t reserved2;
    char text[128];
};
static_assert(sizeof(KestComboBoxItem) == 140);
static_assert(offsetof(KestComboBoxItem, propIndex) == 6);
static_assert(offsetof(KestComboBoxItem, text) == 12);

constexpr std::size_t kKestWordArrayHeadSize = 16;
constexpr std::size_t kKestWordArrayMax = (kKestMaxRecordSize - kKestWordArrayHeadSize) / 2;

struct KestWordArray {
    KestProperty head;
    std::uint16_t reserved;
    std::uint16_t count; // 16-bit words
    std::uint8_t reserved2[8];
    std::uint16_t words[kKestWordArrayMax];

    std::size_t RecordLength() const { return kKestWordArrayHeadSize + 2 * std::size_t(count); }
};
static_assert(offsetof(KestWordArray, count) == 6);
static_assert(offsetof(KestWordArray, words) == 16);

constexpr std::size_t kKestFloatArrayHeadSize = 20;
constexpr std::size_t kKestFloatArrayMax = (kKestMaxRecordSize - kKestFloatArrayHeadSize) / 4;

struct KestFloatArray {
    KestProperty head;
    std::uint16_t reserved;
    std::uint16_t count; // floats
    std::uint8_t reserved2[12];
    float values[kKestFloatArrayMax];

    std::size_t RecordLength() const { return kKestFloatArrayHeadSize + 4 * std::size_t(count); }
};
static_assert(offsetof(KestFloatArray, count) == 6);
static_assert(offsetof(KestFloatArray, values) == 20);

struct KestAudioTone {
    KestProperty head;
    std::uint32_t word1;
    std::uint32_t word2;
};
static_assert(sizeof(KestAudioTone) == 12);

constexpr std::size_t kKestSosFilterHeadSize = 152;
constexpr std::size_t kKestSosMaxStages = (kKestMaxRecordSize - kKestSosFilterHeadSize) / 16;

struct KestSosFilterDesc {
    KestProperty head;
    char label[128];
    float centerFreq;
    float lowCutoff;
    float highCutoff;
    std::uint8_t centerOrder;
    std::uint8_t centerFlags;
    std::uint8_t lowOrder;
    std::uint8_t lowFlags;
    std::uint8_t highOrder;
    std::uint8_t highFlags;
    std::uint8_t maxStages;
    std::uint8_t stageCount;
    float coefficients[kKestSosMaxStages][4];

    std::size_t RecordLength() const {
        return kKestSosFilterHeadSize + 16 * std::size_t(stageCount);
    }
};
static_assert(offsetof(KestSosFilterDesc, label) == 4);
static_assert(offsetof(KestSosFilterDesc, centerFreq) == 132);
static_assert(offsetof(KestSosFilterDesc, lowCutoff) == 136);
static_assert(offsetof(KestSosFilterDesc, highCutoff) == 140);
static_assert(offsetof(KestSosFilterDesc, centerOrder) == 144);
static_assert(offsetof(KestSosFilterDesc, maxStages) == 150);
static_assert(offsetof(KestSosFilterDesc, stageCount) == 151);
static_assert(offsetof(KestSosFilterDesc, coefficients) == 152);

constexpr std::size_t kKestSignalSelectionDescSize = 520;
constexpr std::size_t kKestSignalSelectionEntries = 32;

struct BmFeSignalSelectionEntry {
    std::uint32_t streamKey; // bits 16-23 module id, bits 8-15 stream id; 0 ends the list
    std::uint32_t reserved;
    std::uint32_t channelMask; // bit (electrode mod 32): saved to file
};

struct BmFeSignalSelectionDesc {
    KestProperty head;
    std::uint8_t reserved;
    std::uint8_t port;
    std::uint8_t slot;
    std::uint8_t valid; // a descriptor from the processor with 0 here is ignored
    std::uint8_t opaque[128];
    BmFeSignalSelectionEntry entries[kKestSignalSelectionEntries];
};
static_assert(sizeof(BmFeSignalSelectionDesc) == kKestSignalSelectionDescSize);
static_assert(offsetof(BmFeSignalSelectionDesc, port) == 5);
static_assert(offsetof(BmFeSignalSelectionDesc, slot) == 6);
static_assert(offsetof(BmFeSignalSelectionDesc, valid) == 7);
static_assert(offsetof(BmFeSignalSelectionDesc, entries) == 136);
static_assert(sizeof(BmFeSignalSelectionEntry) == 12);

constexpr std::size_t kKestTrialDescSize = 874;

// Recording trial status values (record offset 50).
enum KestTrialStatus : std::int32_t {
    kKestTrialStopped = 1,
    kKestTrialRecording = 2,
    kKestTrialPaused = 3,
    kKestTrialStopRequested = 4,
    kKestTrialStartRequested = 5,
    kKestTrialPauseRequested = 6,
    kKestTrialUnpauseRequested = 7,
};

// The numeric fields of this record sit at offsets that are not 4-aligned: they are
// byte arrays read and written through the accessors.
struct KestRecordingTrialDescriptor {
    KestProperty head;
    std::uint8_t opaque[12];
    std::uint8_t setting1[4];
    std::uint8_t opaque2[12];
    std::uint8_t setting2[4];
    std::uint8_t setting3[4];
    std::uint8_t opaque3[10];
    std::uint8_t status[4];
    std::uint8_t opaque4[8];
    std::uint8_t startCleared[4];
    std::uint8_t opaque5[40];
    char fileName[512];
    char errorMessage[256];

    std::int32_t Setting(int which) const {
        return kest::LoadLe<std::int32_t>(which == 0 ? setting1 : which == 1 ? setting2 : setting3);
    }
    void SetSetting(int which, std::int32_t value) {
        kest::StoreLe(which == 0 ? setting1 : which == 1 ? setting2 : setting3, value);
    }
    std::int32_t Status() const { return kest::LoadLe<std::int32_t>(status); }
    void SetStatus(std::int32_t value) { kest::StoreLe(status, value); }
    std::int32_t StartCleared() const { return kest::LoadLe<std::int32_t>(startCleared); }
    void SetStartCleared(std::int32_t value) { kest::StoreLe(startCleared, value); }
};
static_assert(sizeof(KestRecordingTrialDescriptor) == kKestTrialDescSize);
static_assert(alignof(KestRecordingTrialDescriptor) == 1);
static_assert(offsetof(KestRecordingTrialDescriptor, setting1) == 16);
static_assert(offsetof(KestRecordingTrialDescriptor, setting2) == 32);
static_assert(offsetof(KestRecordingTrialDescriptor, setting3) == 36);
static_assert(offsetof(KestRecordingTrialDescriptor, status) == 50);
static_assert(offsetof(KestRecordingTrialDescriptor, startCleared) == 62);
static_assert(offsetof(KestRecordingTrialDescriptor, fileName) == 106);
static_assert(offsetof(KestRecordingTrialDescriptor, errorMessage) == 618);

constexpr std::size_t kKestErrorMessageHeadSize = 20;
constexpr std::size_t kKestErrorTextMax = kKestMaxRecordSize - kKestErrorMessageHeadSize;

// Error message record: module 0, property 0xFFFE, from the processor.
struct KestErrorMessage {
    KestProperty head;
    std::uint32_t level; // 6 and 7 are errors, other levels warnings
    std::uint32_t code;
    std::uint8_t reserved;
    std::uint8_t detail1;
    std::uint8_t detail2;
    std::uint8_t detail3;
    std::uint16_t reserved2;
    std::uint16_t textLength; // bytes, not NUL-terminated
    char text[kKestErrorTextMax];
};
static_assert(offsetof(KestErrorMessage, level) == 4);
static_assert(offsetof(KestErrorMessage, code) == 8);
static_assert(offsetof(KestErrorMessage, detail1) == 13);
static_assert(offsetof(KestErrorMessage, detail2) == 14);
static_assert(offsetof(KestErrorMessage, detail3) == 15);
static_assert(offsetof(KestErrorMessage, textLength) == 18);
static_assert(offsetof(KestErrorMessage, text) == 20);
static_assert(sizeof(KestErrorMessage) == kKestMaxRecordSize);

// Length of a text field that may lack its terminating NUL.
inline std::size_t KestTextLength(const char* text, std::size_t capacity) {
    const void* end = std::memchr(text, 0, capacity);
    return end ? std::size_t(static_cast<const char*>(end) - text) : capacity;
}
