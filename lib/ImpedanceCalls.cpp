// Impedance calls: the test currents a front end offers and the measurement of several
// electrodes of one front end.
#include "include/kestlib.h"
#include "lib/ImpedanceTiming.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "cache/ModuleData.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

using kestlib::Guard;
using kestlib::Initialized;
using Prop = ModuleData::Prop;

namespace kestlib {

ImpedanceTiming& GetImpedanceTiming() {
    static ImpedanceTiming timing;
    return timing;
}

} // namespace kestlib

namespace {

constexpr std::uint32_t kUnderflow = 0x7F7F0002;
constexpr std::uint32_t kOverflow = 0x7F7F0001;
constexpr std::uint8_t kControlType = 24;
constexpr std::uint32_t kMaxCycles = 1000;
// The control packet is 28 + 8 x count bytes and its size byte counts 32-bit words.
constexpr int kMaxImpedanceChannels = (255 - 7) / 2;
constexpr int kMaxElectrode = 511;
constexpr std::size_t kListHead = 16;
// kl_imp's result for a test current the front end does not offer.
constexpr std::int32_t kUnsupportedCurrent = -2;

// A copy of a stored record at its stored size; length 0 when missing or cleared.
struct Stored {
    std::array<std::uint8_t, kKestMaxRecordSize> bytes{};
    std::size_t length = 0;

    std::uint16_t Word(std::size_t offset) const {
        return offset + 2 <= length ? kest::LoadLe<std::uint16_t>(&bytes[offset]) : 0;
    }
    // The values of a list (count at 6, values from 16), bounded by the stored size.
    std::size_t ListCount() const {
        const std::size_t room = length > kListHead ? (length - kListHead) / 2 : 0;
        const std::size_t count = Word(6);
        return count < room ? count : room;
    }
    std::uint16_t ListValue(std::size_t i) const { return Word(kListHead + 2 * i); }
    // Position of `value` among the list's values, -1 when absent.
    int Position(std::uint16_t value) const {
        for (std::size_t i = 0; i < ListCount(); ++i) {
            if (ListValue(i) == value) {
                return int(i);
            }
        }
        return -1;
    }
};

Stored Read(unsigned module, int index, std::size_t minimum) {
    Stored record;
    if (index > 0) {
        record.length = gKestCache->CopyKestProperty(module, unsigned(index), record.bytes.data(),
                                                     record.bytes.size(), 0, minimum);
        if (record.length > record.bytes.size()) {
            record.length = record.bytes.size();
        }
    }
    return record;
}

// The 16-bit count at record offset 6, read under the lock; -1 when the record is gone.
int StoredCount(unsigned module, int index) {
    std::uint8_t head[8] = {};
    if (gKestCache->CopyKestProperty(module, unsigned(index), head, sizeof head, 0, 8) == 0) {
        return -1;
    }
    return kest::LoadLe<std::uint16_t>(&head[6]);
}

bool ZeroCount(unsigned module, int index) {
    const std::uint16_t zero = 0;
    return gKestCache->PatchKestProperty(module, unsigned(index), 6, &zero, sizeof zero);
}

bool WaitForCount(unsigned module, int index, int expected, unsigned polls, unsigned pollMs) {
    for (unsigned i = 0; i < polls; ++i) {
        if (StoredCount(module, index) == expected) {
            return true;
        }
        KestSendAndRecv::SleepMs(pollMs);
    }
    return StoredCount(module, index) == expected;
}

void PrintSupportedCurrents(uint32_t electrode) {
    std::uint16_t currents[10] = {};
    const int count = kl_get_ic_current_for_elec(electrode, currents, 10);
    if (count <= 0) {
        return;
    }
    std::printf("kl_imp: Supported current: ");
    for (int i = 0; i < count; ++i) {
        std::printf("%duA ", int(currents[i]));
    }
    std::printf("\n");
}

struct ImpedanceProps {
    int cycle = -1;
    int frequencies = -1;
    int currents = -1;
    int control = -1;
    int measurements = -1;
};

ImpedanceProps FindProps(unsigned module) {
    ImpedanceProps props;
    props.cycle = gKestCache->GetNamedPropIndex(module, int(Prop::ImpedanceCycle));
    props.frequencies = gKestCache->GetNamedPropIndex(module, int(Prop::ImpedanceFreqList));
    props.currents = gKestCache->GetNamedPropIndex(module, int(Prop::ImpedanceCurrentList));
    props.control = gKestCache->GetNamedPropIndex(module, int(Prop::ImpedanceControl));
    props.measurements = gKestCache->GetNamedPropIndex(module, int(Prop::ImpedanceMeasurements));
    return props;
}

std::int32_t Measure(float* results, const uint32_t* electrodes, int count, int current,
                     uint32_t cycles) {
    if (results == nullptr || electrodes == nullptr || count <= 0) {
        return KL_ERR_UNKNOWN;
    }
    if (count > kMaxImpedanceChannels) {
        std::printf("kl_imp: at most %d channels per measurement.\n", kMaxImpedanceChannels);
        return KL_ERR_UNKNOWN;
    }
    if (cycles < 1 || cycles > kMaxCycles) {
        std::printf("kl_imp: Unsupported number of cycles.\n");
        return KL_ERR_UNSUPPORTED;
    }
    int module = -1;
    for (int k = 0; k < count; ++k) {
        const int found = gKestCache->FindHWModule(electrodes[k]);
        if (found < 0) {
            std::printf("kl_imp: Unable to find module for channel %u.\n", electrodes[k]);
            return KL_ERR_UNKNOWN;
        }
        if (module >= 0 && found != module) {
            std::printf("kl_imp: All channels must belong to same module.\n");
            return KL_ERR_UNKNOWN;
        }
        module = found;
    }
    const unsigned m = unsigned(module);
    if (!gKestCache->HaveHWModule(m)) {
        std::printf("kl_imp:  unable to access Module data for %u\n", m);
        return KL_ERR_UNKNOWN;
    }
    const ImpedanceProps props = FindProps(m);
    const Stored frequencies = Read(m, props.frequencies, kListHead);
    const Stored currents = Read(m, props.currents, kListHead);
    const Stored control = Read(m, props.control, 14);
    const Stored measurements = Read(m, props.measurements, 8);
    if (props.cycle < 0 || frequencies.length == 0 || currents.length == 0 || control.length == 0 ||
        measurements.length == 0) {
        std::printf("kl_imp: Can't access impedance control properties.\n");
        return KL_ERR_UNKNOWN;
    }

    const int frequencyIndex = std::max(frequencies.Position(frequencies.Word(8)), 0);
    int currentIndex = 0;
    if (current == -1) {
        currentIndex = std::max(currents.Position(currents.Word(8)), 0);
    } else {
        currentIndex =
            current < 0 || current > 0xFFFF ? -1 : currents.Position(std::uint16_t(current));
        if (currentIndex < 0) {
            std::printf("kl_imp: Unsupported current value.\n");
            PrintSupportedCurrents(electrodes[0]);
            return kUnsupportedCurrent;
        }
    }

    // The measurement set-up, echoed by the processor with its count.
    std::array<std::uint8_t, kKestMaxPacketSize> packet{};
    const std::size_t bytes = 28 + 8 * std::size_t(count);
    packet[0] = std::uint8_t(bytes / 4);
    packet[8] = kKestProcessorId;
    packet[9] = std::uint8_t(m);
    kest::StoreLe(&packet[10], std::uint16_t(props.control));
    packet[12] = 1;
    packet[13] = kControlType;
    const auto entries = std::uint16_t(4 * count);
    kest::StoreLe(&packet[16], entries);
    kest::StoreLe(&packet[18], entries);
    kest::StoreLe(&packet[20], control.Word(8));
    kest::StoreLe(&packet[22], control.Word(10));
    kest::StoreLe(&packet[24], control.Word(12));
    for (int k = 0; k < count; ++k) {
        std::uint8_t* entry = &packet[28 + 8 * std::size_t(k)];
        kest::StoreLe(entry, std::uint16_t(electrodes[k] % 32));
        kest::StoreLe(entry + 2, std::uint16_t(frequencyIndex));
        kest::StoreLe(entry + 4, std::uint16_t(currentIndex));
        kest::StoreLe(entry + 6, std::uint16_t(cycles));
    }

    // Each cached count is cleared before the packet it waits for leaves, so that an
    // answer arriving at once is not wiped out.
    const kestlib::ImpedanceTiming timing = kestlib::GetImpedanceTiming();
    if (!ZeroCount(m, props.control) ||
        !gKestClient->SendKestPacket(*reinterpret_cast<const KestPacket*>(packet.data())) ||
        !WaitForCount(m, props.control, entries, timing.controlPolls, timing.controlPollMs)) {
        std::fprintf(stderr, "kl_imp: unable to set impedance control. (Time out)\n");
        return KL_ERR_UNKNOWN;
    }
    if (!ZeroCount(m, props.measurements) ||
        gKestClient->SendBool(m, unsigned(props.cycle), true) == 0 ||
        !WaitForCount(m, props.measurements, 2 * count, timing.measurePolls,
                      timing.measurePollMs)) {
        std::printf("kl_imp: Impedance measurement failed. (Time out)\n");
        return KL_ERR_UNKNOWN;
    }

    const Stored result = Read(m, props.measurements, 8);
    if (result.length < 20 + 8 * std::size_t(count)) {
        std::printf("kl_imp: Impedance measurement failed. (Incomplete)\n");
        return KL_ERR_UNKNOWN;
    }
    for (int k = 0; k < count; ++k) {
        const auto value = kest::LoadLe<std::uint32_t>(&result.bytes[20 + 8 * std::size_t(k)]);
        if (value == kUnderflow) {
            std::fprintf(stderr, "kl_imp: impedance underflow %u\n", electrodes[k]);
            results[k] = std::numeric_limits<float>::quiet_NaN();
        } else if (value == kOverflow) {
            std::fprintf(stderr, "kl_imp: impedance overflow %u\n", electrodes[k]);
            results[k] = std::numeric_limits<float>::quiet_NaN();
        } else {
            std::memcpy(&results[k], &value, sizeof value);
        }
    }
    return KL_SUCCESS;
}

} // namespace

extern "C" {

KL_API int32_t kl_get_ic_current_for_elec(uint32_t electrode, uint16_t* currents,
                                          uint16_t max) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_get_ic_current_for_elec")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (currents == nullptr || max == 0 || electrode > std::uint32_t(kMaxElectrode)) {
            return KL_ERR_UNKNOWN;
        }
        const int module = gKestCache->FindHWModule(electrode);
        if (module < 0) {
            return KL_ERR_UNKNOWN;
        }
        const Stored list =
            Read(unsigned(module),
                 gKestCache->GetNamedPropIndex(unsigned(module), int(Prop::ImpedanceCurrentList)),
                 kListHead);
        if (list.length == 0) {
            return KL_ERR_UNKNOWN;
        }
        const std::size_t count = std::min<std::size_t>(list.ListCount(), max);
        for (std::size_t i = 0; i < count; ++i) {
            currents[i] = list.ListValue(i);
        }
        return std::int32_t(count);
    });
}

KL_API int32_t kl_imp(float* results, const uint32_t* electrodes, int count, int current,
                      uint32_t cycles) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_imp")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (gKestClient == nullptr) {
            return KL_ERR_UNKNOWN;
        }
        const std::int32_t status = Measure(results, electrodes, count, current, cycles);
        std::fflush(stdout);
        return status;
    });
}

} // extern "C"
