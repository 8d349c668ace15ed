#include "client/KestClient.h"

#include "cache/KestCache.h"
#include "client/KestClientTask.h"
#include "client/KestPacketFill.h"
#include "protocol/KestPacketBuilder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kMaxByte = 0xFF;
constexpr unsigned kMaxIndex = 0xFFFF;

bool FitsAddress(unsigned processor, unsigned module, unsigned prop) {
    return processor <= kMaxByte && module <= kMaxByte && prop <= kMaxIndex;
}

} // namespace

KestClient::KestClient(KestConfigSink* sink, KestOperatorRoutes* routes, KestCache* cache)
    : sink_(sink != nullptr ? sink : &KestDefaultConfigSink()), routes_(routes), cache_(cache) {}

KestClient::~KestClient() {
    CancelTasks();
}

// ---------------------------------------------------------------------------
// Property writes and requests

int KestClient::SendRecord(unsigned processor, unsigned module, unsigned prop, const void* record,
                           std::size_t length, std::uint32_t timestamp) {
    if (record == nullptr || length == 0 || length > kKestMaxRecordSize ||
        !FitsAddress(processor, module, prop)) {
        return 0;
    }
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    if (!KestPutRecord(*sink_, processor, module, prop, record, length, timestamp)) {
        return 0;
    }
    sink_->SendConfigPacket();
    return 1;
}

int KestClient::SendKestProperty(const void* property, unsigned module, unsigned prop,
                                 std::size_t length) {
    return SendRecord(kKestProcessorId, module, prop, property, length, kKestSetTimestamp);
}

int KestClient::SendBool(unsigned module, unsigned prop, bool value) {
    KestBool record{};
    record.head = {1, kKestBoolType, 0, 0};
    record.value = value ? 1 : 0;
    return SendRecord(kKestProcessorId, module, prop, &record, sizeof record, kKestSetTimestamp);
}

int KestClient::SendComboBox(const KestComboBox& box, unsigned module, unsigned prop) {
    return SendRecord(kKestProcessorId, module, prop, &box, sizeof box, kKestSetTimestamp);
}

int KestClient::SendComboBox(const KestSosFilterDesc& filter, unsigned module, unsigned prop) {
    if (filter.stageCount > kKestSosMaxStages) {
        return 0;
    }
    return SendRecord(kKestProcessorId, module, prop, &filter, filter.RecordLength(),
                      kKestSetTimestamp);
}

int KestClient::SendWordArray(const KestWordArray& array, unsigned module, unsigned prop) {
    if (array.count > kKestWordArrayMax) {
        return 0;
    }
    return SendRecord(kKestProcessorId, module, prop, &array, array.RecordLength(),
                      kKestSetTimestamp);
}

int KestClient::SendFloatArray(const KestFloatArray& array, unsigned module, unsigned prop) {
    if (array.count > kKestFloatArrayMax) {
        return 0;
    }
    return SendRecord(kKestProcessorId, module, prop, &array, array.RecordLength(),
                      kKestSetTimestamp);
}

int KestClient::SendAudioTone(const KestAudioTone& tone, unsigned module, unsigned prop) {
    return SendRecord(kKestProcessorId, module, prop, &tone, sizeof tone, kKestSetTimestamp);
}

bool KestClient::SendKestPacket(const KestPacket& packet) {
    // A size byte of 0 would stop every reader of the ring at this packet.
    const std::size_t bytes = packet.ByteSize();
    if (bytes < kKestHeaderSize) {
        return false;
    }
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    KestPacket* out = sink_->NewConfigPacket(bytes);
    if (out == nullptr) {
        return false;
    }
    std::memcpy(out, &packet, bytes);
    sink_->SendConfigPacket();
    return true;
}

bool KestClient::RequestProperty(unsigned processor, unsigned module, unsigned prop) {
    if (!FitsAddress(processor, module, prop)) {
        return false;
    }
    std::lock_guard<std::mutex> turn(sink_->WriteMutex());
    KestPacket* packet = sink_->NewConfigPacket(kKestConfigHeaderSize);
    if (packet == nullptr) {
        return false;
    }
    KestBuildRequest(packet, kKestConfigHeaderSize, std::uint8_t(processor), std::uint8_t(module),
                     std::uint16_t(prop));
    sink_->SendConfigPacket();
    return true;
}

void KestClient::RequestAll() {
    if (routes_ == nullptr) {
        return;
    }
    alignas(4) std::uint8_t request[kKestConfigHeaderSize];
    KestBuildRequest(request, sizeof request, kKestAllProcessors, 0, 0);
    routes_->SendToAllOperators(*reinterpret_cast<const KestPacket*>(request));
}

// ---------------------------------------------------------------------------
// Digital outputs

int KestClient::SetDigOut(const int* outputs, const int* values, int count) {
    // Each output owns its bits; a second entry for one output would carry into the next
    // output's bits, so it is refused with the unknown ones.
    static constexpr std::uint32_t kSelect[4] = {0x10000000, 0x20000000, 0x40000000, 0x80000000};
    static constexpr std::uint32_t kLevel[4] = {0x00010000, 0x00020000, 0x00040000, 0x00080000};
    static constexpr std::uint32_t kParallel = 0x0F000000;
    if (count < 0 || (count > 0 && (outputs == nullptr || values == nullptr))) {
        return 0;
    }
    std::uint32_t word = 0;
    bool seen[5] = {};
    for (int i = 0; i < count; ++i) {
        const int output = outputs[i];
        if (output < 0 || output > 4 || seen[output]) {
            return 0;
        }
        seen[output] = true;
        if (output == 4) {
            word += kParallel + (std::uint32_t(values[i]) & 0xFFFF);
        } else {
            word += kSelect[output] + (values[i] != 0 ? kLevel[output] : 0);
        }
    }
    // An integer record, padded to the 20 bytes of the output property.
    std::uint8_t record[20] = {1, kKestIntegerType};
    kest::StoreLe(record + 4, word);
    return SendRecord(kKestProcessorId, kKestDigitalModule, kKestDigitalOutputPropIndex, record,
                      sizeof record, kKestRequestTimestamp);
}

// ---------------------------------------------------------------------------
// Tasks

void KestClient::Attach(KestClientTask* task) {
    std::lock_guard<std::mutex> hold(tasksMutex_);
    tasks_.push_back(task);
}

void KestClient::Detach(KestClientTask* task) {
    std::lock_guard<std::mutex> hold(tasksMutex_);
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (*it == task) {
            tasks_.erase(it);
            return;
        }
    }
}

void KestClient::CancelTasks() {
    std::vector<KestClientTask*> tasks;
    {
        std::lock_guard<std::mutex> hold(tasksMutex_);
        tasks.swap(tasks_);
    }
    // Outside the lock: a task's thread may be sending through this client right now.
    for (KestClientTask* task : tasks) {
        task->CancelAndWait();
        task->ClientGone();
    }
}
