// Implant transceiver calls: a transceiver front end is asked for its implant's connection,
// status and command response, and given commands, through word-array properties of its
// hardware module. A request clears the cached record first and then waits for the
// processor's answer to fill it again.
#include "include/kestlib.h"
#include "lib/CachedRecord.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "cache/ModuleData.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "protocol/KestPacket.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

using kestlib::CachedCount;
using kestlib::CopyCachedRecord;
using kestlib::Guard;
using kestlib::Initialized;
using Prop = ModuleData::Prop;
using namespace std::chrono_literals;

namespace {

constexpr int kMaxElectrode = 511;
constexpr const char* kTransceiverLabel = "quarnel";
constexpr unsigned kConfirmMs = 1000;
constexpr std::uint16_t kWords = KL_TRANSCEIVER_WORDS;
constexpr std::size_t kDataBytes = 2 * kWords;

// Record layouts. Status and response: count at 6, request address words at 8-13, data from
// 16. Command: command word at 4, count at 6, data from 8.
constexpr std::size_t kCountOffset = 6;
constexpr std::size_t kStatusDataOffset = 16;
constexpr std::size_t kCommandWordOffset = 4;
constexpr std::size_t kCommandDataOffset = 8;
constexpr std::size_t kRequestAddressOffset = 8;
constexpr std::size_t kRequestAddressBytes = 6;
// Packets: a status or response read request, and a command.
constexpr std::size_t kReadRequestBytes = 92;
constexpr std::size_t kCommandBytes = 84;
// The response count that marks "no answer yet".
constexpr std::uint16_t kNoAnswer = kWords + 1;

// Waits: status and command 50 ms x 100, response 20 ms x 50.
constexpr auto kStatusPoll = 50ms;
constexpr auto kStatusWait = 5000ms;
constexpr auto kResponsePoll = 20ms;
constexpr auto kResponseWait = 1000ms;

// "<name>: <text>" on standard error.
void Named(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Named(const char* name, const char* format, ...) {
    std::fprintf(stderr, "%s: ", name);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

// The hardware module of the transceiver front end that carries the electrode; -1, with
// the reason on standard error, when there is none.
int LookupTransceiver(int electrode) {
    constexpr const char* kName = "lookup_transceiver";
    if (electrode < 0 || electrode > kMaxElectrode) {
        Named(kName, "electrode index %d is invalid.\n", electrode);
        return -1;
    }
    int module = -1;
    {
        auto hold = gKestCache->GetLock();
        module = gKestCache->GetHWModule(unsigned(electrode));
    }
    if (module < 0) {
        Named(kName, "No front end exists at that location.\n");
        return -1;
    }
    int found = -1;
    const KestModuleDesc* desc = gKestCache->GetModuleDesc(electrode, &found);
    if (desc == nullptr) {
        Named(kName, "unable to locate control module for the electrode\n");
        return -1;
    }
    char label[sizeof desc->label + 1] = {};
    {
        auto hold = gKestCache->GetLock();
        std::memcpy(label, desc->label, sizeof desc->label);
    }
    if (std::strstr(label, kTransceiverLabel) == nullptr) {
        Named(kName, "[%s] is not a transciever.\n", label);
        return -1;
    }
    return module;
}

// A transceiver property: its module, index and cached record (null when missing).
struct Target {
    unsigned module = 0;
    unsigned index = 0;
    std::uint8_t* record = nullptr;
};

bool FindProperty(int module, Prop prop, Target* target) {
    const int index = gKestCache->GetNamedPropId(unsigned(module), int(prop));
    if (index <= 0) {
        return false;
    }
    KestProperty* record = gKestCache->GetKestProperty(unsigned(module), unsigned(index));
    if (record == nullptr) {
        return false;
    }
    *target = {unsigned(module), unsigned(index), reinterpret_cast<std::uint8_t*>(record)};
    return true;
}

// Zeroes the record's data from `dataOffset` to the end of its slot and sets its count, under
// the lock; the slot's size bounds the zeroing, whatever count the processor sent last. The
// record's request address words (8-13) are copied into `address` first when given.
void ResetRecord(const Target& target, std::size_t dataOffset, std::uint16_t count,
                 std::uint8_t* address = nullptr) {
    auto hold = gKestCache->GetLock();
    if (address != nullptr) {
        std::memcpy(address, target.record + kRequestAddressOffset, kRequestAddressBytes);
    }
    std::memset(target.record + dataOffset, 0, kKestMaxRecordSize - dataOffset);
    kest::StoreLe(target.record + kCountOffset, count);
}

// The 12 packet bytes before a record: size in words, zeros, processor 1, module, index.
void FillHeader(std::uint8_t* packet, std::size_t bytes, const Target& target) {
    packet[0] = std::uint8_t(bytes / 4);
    packet[8] = kKestProcessorId;
    packet[9] = std::uint8_t(target.module);
    kest::StoreLe(packet + 10, std::uint16_t(target.index));
}

// Asks for a status or response record: a word array of 32 words' capacity and length 0.
bool SendReadRequest(const Target& target, const std::uint8_t* address) {
    alignas(4) std::uint8_t packet[kReadRequestBytes] = {};
    FillHeader(packet, sizeof packet, target);
    packet[12] = 1;
    packet[13] = kKestImplantStatusType;
    kest::StoreLe(packet + 16, kWords);
    std::memcpy(packet + 20, address, kRequestAddressBytes);
    return gKestClient != nullptr &&
           gKestClient->SendKestPacket(*reinterpret_cast<const KestPacket*>(packet));
}

// Polls the record's count every `interval` until done(count) or `limit` has passed on the
// clock; returns the count read last.
template <typename Done>
std::uint16_t PollCount(const Target& target, std::chrono::milliseconds interval,
                        std::chrono::milliseconds limit, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const bool late = std::chrono::steady_clock::now() >= deadline;
        const std::uint16_t count = CachedCount(target.record);
        if (done(count) || late) {
            return count;
        }
        std::this_thread::sleep_for(interval);
    }
}

void CopyData(const Target& target, std::uint16_t* words) {
    auto hold = gKestCache->GetLock();
    std::memcpy(words, target.record + kStatusDataOffset, kDataBytes);
}

template <typename Body> std::int32_t Call(const char* name, Body&& body) {
    return Guard([&]() -> std::int32_t {
        if (!Initialized(name)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        return body();
    });
}

} // namespace

extern "C" {

KL_API int32_t kl_transceiver_connected(int electrode, int32_t* connected) noexcept {
    return Call("kl_transceiver_connected", [&]() -> std::int32_t {
        if (connected == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        *connected = 0;
        const int module = LookupTransceiver(electrode);
        Target target;
        if (module < 0 || !FindProperty(module, Prop::ImplantConnectionStatus, &target)) {
            return KL_ERR_UNKNOWN;
        }
        alignas(4) std::uint8_t record[kKestMaxRecordSize];
        if (CopyCachedRecord(target.module, target.index, record, sizeof record) <
            offsetof(KestBool, value) + 1) {
            return KL_ERR_UNKNOWN;
        }
        // Writing false asks for the state; the processor echoes the link's actual state.
        record[0] = 1;
        record[1] = kKestBoolType;
        record[2] = 0;
        record[3] = 0;
        record[offsetof(KestBool, value)] = 0;
        KestSendAndRecv confirmed(gKestClient, gKestCache, kConfirmMs);
        if (!confirmed.SendKestProperty(record, sizeof record, target.module, target.index)) {
            return KL_ERR_UNKNOWN; // no answer is not "not connected"
        }
        *connected = record[offsetof(KestBool, value)] != 0 ? 1 : 0;
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_transceiver_enable(int electrode, int on) noexcept {
    return Call("kl_transceiver_enable", [&]() -> std::int32_t {
        const int module = LookupTransceiver(electrode);
        Target target;
        if (module < 0 || !FindProperty(module, Prop::ImplantSearchTrigger, &target)) {
            return KL_ERR_UNKNOWN;
        }
        if (gKestClient == nullptr ||
            gKestClient->SendBool(target.module, target.index, on != 0) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_transceiver_status(uint16_t status[KL_TRANSCEIVER_WORDS],
                                     int electrode) noexcept {
    return Call("kl_transceiver_status", [&]() -> std::int32_t {
        if (status == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        const int module = LookupTransceiver(electrode);
        Target target;
        if (module < 0 || !FindProperty(module, Prop::ImplantStatus, &target)) {
            return KL_ERR_UNKNOWN;
        }
        std::uint8_t address[kRequestAddressBytes];
        ResetRecord(target, kStatusDataOffset, 0, address);
        if (!SendReadRequest(target, address)) {
            return KL_ERR_UNKNOWN;
        }
        const std::uint16_t count = PollCount(target, kStatusPoll, kStatusWait,
                                              [](std::uint16_t n) { return n == kWords; });
        if (count == 0) {
            Named("kl_transceiver_status", "unable to read implant status\n");
            return KL_ERR_UNKNOWN;
        }
        CopyData(target, status);
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_transceiver_command(int electrode,
                                      const KestTransceiverCommand* command) noexcept {
    return Call("kl_transceiver_command", [&]() -> std::int32_t {
        if (command == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        std::uint16_t data[kWords] = {};
        std::copy_n(command->data, std::min<std::uint16_t>(command->count, kWords), data);
        const int module = LookupTransceiver(electrode);
        Target target;
        if (module < 0 || !FindProperty(module, Prop::TransceiverCommand, &target)) {
            return KL_ERR_UNKNOWN;
        }
        ResetRecord(target, kCommandDataOffset, 0);
        alignas(4) std::uint8_t packet[kCommandBytes] = {};
        FillHeader(packet, sizeof packet, target);
        packet[12] = 1;
        packet[13] = kKestTransceiverCommandType;
        kest::StoreLe(packet + 12 + kCommandWordOffset, command->command);
        kest::StoreLe(packet + 12 + kCountOffset, kWords);
        std::memcpy(packet + 12 + kCommandDataOffset, data, kDataBytes);
        if (gKestClient == nullptr ||
            !gKestClient->SendKestPacket(*reinterpret_cast<const KestPacket*>(packet))) {
            return KL_ERR_UNKNOWN;
        }
        if (PollCount(target, kStatusPoll, kStatusWait,
                      [](std::uint16_t n) { return n == kWords; }) != kWords) {
            Named("kl_transceiver_command", "Transceiver command not acknowledged\n");
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_transceiver_cmd_response(uint16_t response[KL_TRANSCEIVER_WORDS],
                                           int electrode) noexcept {
    return Call("kl_transceiver_cmd_response", [&]() -> std::int32_t {
        if (response == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        const int module = LookupTransceiver(electrode);
        if (module < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        Target target;
        if (!FindProperty(module, Prop::ImplantCommandResponse, &target)) {
            return KL_ERR_UNSUPPORTED;
        }
        std::uint8_t address[kRequestAddressBytes];
        ResetRecord(target, kStatusDataOffset, kNoAnswer, address);
        if (!SendReadRequest(target, address)) {
            return KL_ERR_UNKNOWN;
        }
        const std::uint16_t count = PollCount(target, kResponsePoll, kResponseWait,
                                              [](std::uint16_t n) { return n <= kWords; });
        if (count == 0 || count > kWords) {
            Named("kl_transceiver_cmd_response", "unable to read implant command response\n");
            return KL_ERR_NO_RESPONSE;
        }
        CopyData(target, response);
        return KL_SUCCESS;
    });
}

} // extern "C"
