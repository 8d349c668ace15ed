// File-save selection: which streams of an electrode are saved to file, by the processor
// itself or by a recording operator. Each front end has a selection descriptor whose entries
// name a stream (module and stream id) and carry a channel mask.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"
#include "lib/SignalSupport.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "links/OperAddress.h"
#include "links/OperRegistry.h"
#include "protocol/KestPacket.h"
#include "transport/ClientFamily.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

using kestlib::Guard;
using kestlib::Initialized;
using Network::OperNetwork::kNoEndpoint;

namespace {

// How long an operator has to answer one descriptor request, and how often the cache is
// looked at meanwhile.
constexpr auto kAnswerTime = std::chrono::milliseconds(1000);
constexpr auto kPollTime = std::chrono::milliseconds(1);
// An operator keeps at most this many selection descriptors, numbered from 0.
constexpr int kOperatorSelections = 32;

struct StreamAddr {
    int module = -1;
    int stream = -1;
};

// The stream's module and id; KL_ERR_UNSUPPORTED when the electrode lacks the stream or
// it is not available.
std::int32_t FindStream(int electrode, const char* stream, StreamAddr* out) {
    KestStreamSwitch found;
    if (!kestlib::StreamSwitch(electrode, stream, &found) ||
        (found.flags & kKestStreamUnavailableFlags) != 0) {
        return KL_ERR_UNSUPPORTED;
    }
    out->module = found.module;
    out->stream = found.stream;
    return KL_SUCCESS;
}

// The first entry of the stream: its key names exactly the stream's module and stream id.
// -1 when the entries (up to the first empty key) have none.
int FindEntry(const BmFeSignalSelectionDesc& desc, const StreamAddr& stream) {
    for (std::size_t i = 0; i < kKestSignalSelectionEntries; ++i) {
        const std::uint32_t key = desc.entries[i].streamKey;
        if (key == 0) {
            break;
        }
        if (((key >> 16) & 0xFF) == std::uint32_t(stream.module) &&
            ((key >> 8) & 0xFF) == std::uint32_t(stream.stream)) {
            return int(i);
        }
    }
    return -1;
}

std::uint32_t Bit(int electrode) {
    return std::uint32_t(1) << (unsigned(electrode) % 32);
}

// Whether the electrode's stream is selected in `desc`: 1 or 0.
std::int32_t Selected(const BmFeSignalSelectionDesc& desc, const StreamAddr& stream,
                      int electrode) {
    const int entry = FindEntry(desc, stream);
    return entry >= 0 && (desc.entries[entry].channelMask & Bit(electrode)) != 0 ? 1 : 0;
}

// Sets or clears the electrode's bit in the stream's entry of `desc`. KL_ERR_UNSUPPORTED when
// switching on a stream without an entry; *changed tells whether the mask moved.
std::int32_t Select(BmFeSignalSelectionDesc& desc, const StreamAddr& stream, int electrode, bool on,
                    bool* changed) {
    *changed = false;
    const int entry = FindEntry(desc, stream);
    if (entry < 0) {
        return on ? KL_ERR_UNSUPPORTED : KL_SUCCESS;
    }
    std::uint32_t& mask = desc.entries[entry].channelMask;
    const std::uint32_t wanted = on ? (mask | Bit(electrode)) : (mask & ~Bit(electrode));
    *changed = wanted != mask;
    mask = wanted;
    return KL_SUCCESS;
}

std::int32_t CheckArgs(const char* call, int electrode, const char* stream) {
    if (!Initialized(call)) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (electrode < 0) {
        return KL_ERR_INVALID_ELECTRODE;
    }
    return stream == nullptr ? KL_ERR_INVALID_PARAMETER : KL_SUCCESS;
}

// The operator an id names: 0 and 1 the first connected one. Operators are reached over the
// stream link only.
std::int32_t ResolveOperator(int op, std::uint32_t* id) {
    if (Network::OperNetwork::gCurrentNetwork.load() != 1) {
        return KL_ERR_INVALID_NETWORK;
    }
    std::uint32_t found = std::uint32_t(op);
    if (found == 0 || found == 1) {
        found = oper::OperFirstKestClient();
    }
    if (found == kNoEndpoint || oper::OperIsProcessor(found) ||
        oper::FindOperClient(found) == nullptr) {
        return KL_ERR_OPERATOR_NOT_FOUND;
    }
    *id = found;
    return KL_SUCCESS;
}

// Asks the operator for its selection descriptors one by one until the one of the
// electrode's front end arrives; *number is its number.
std::int32_t FetchSelection(std::uint32_t id, int electrode, BmFeSignalSelectionDesc* out,
                            int* number) {
    const unsigned port = unsigned(electrode) / 128;
    const unsigned slot = (unsigned(electrode) % 128) / 32;
    for (int i = 0; i < kOperatorSelections; ++i) {
        gKestCache->ResetSignalSelectionDescriptor(id);
        if (gKestClient == nullptr || !gKestClient->SendSignalSelectionDescriptor(id, i, nullptr)) {
            return KL_ERR_OPERATOR_NOT_FOUND;
        }
        const auto end = std::chrono::steady_clock::now() + kAnswerTime;
        std::unique_ptr<BmFeSignalSelectionDesc> answer;
        while (!(answer = gKestCache->GetSignalSelectionDescriptor(id))) {
            if (std::chrono::steady_clock::now() > end) {
                return KL_ERR_NO_RESPONSE;
            }
            std::this_thread::sleep_for(kPollTime);
        }
        if (answer->port == port && answer->slot == slot) {
            *out = *answer;
            *number = i;
            return KL_SUCCESS;
        }
    }
    return KL_ERR_INVALID_PARAMETER;
}

// The operator, the stream and the operator's descriptor for the electrode's front end.
std::int32_t OperatorSelection(int op, int electrode, const char* stream, std::uint32_t* id,
                               StreamAddr* addr, BmFeSignalSelectionDesc* desc, int* number) {
    if (const std::int32_t failed = ResolveOperator(op, id)) {
        return failed;
    }
    if (const std::int32_t failed = FindStream(electrode, stream, addr)) {
        return failed;
    }
    return FetchSelection(*id, electrode, desc, number);
}

} // namespace

extern "C" {

KL_API int32_t kl_signal_save_local(int electrode, const char* stream) noexcept {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs("kl_signal_save_local", electrode, stream)) {
            return failed;
        }
        StreamAddr addr;
        if (FindStream(electrode, stream, &addr) != KL_SUCCESS) {
            std::fprintf(stderr, "stream %s not found for electrode %d\n", stream, electrode);
            return KL_ERR_UNSUPPORTED;
        }
        BmFeSignalSelectionDesc desc{};
        if (!gKestCache->CopyFileSaveSelection(unsigned(electrode), &desc, nullptr)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        return Selected(desc, addr, electrode);
    });
}

KL_API int32_t kl_signal_save_set_local(int electrode, const char* stream, int on) noexcept {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs("kl_signal_save_set_local", electrode, stream)) {
            return failed;
        }
        StreamAddr addr;
        if (const std::int32_t failed = FindStream(electrode, stream, &addr)) {
            return failed;
        }
        // A copy is changed and sent; the processor's echo updates the cache.
        BmFeSignalSelectionDesc desc{};
        unsigned index = 0;
        if (!gKestCache->CopyFileSaveSelection(unsigned(electrode), &desc, &index)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        bool changed = false;
        if (const std::int32_t failed = Select(desc, addr, electrode, on != 0, &changed)) {
            return failed;
        }
        if (changed && (gKestClient == nullptr ||
                        gKestClient->SendFileSaveSelection(desc, kKestProcessorId, index) == 0)) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_signal_save(int op, int electrode, const char* stream) noexcept {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs("kl_signal_save", electrode, stream)) {
            return failed;
        }
        std::uint32_t id = kNoEndpoint;
        StreamAddr addr;
        BmFeSignalSelectionDesc desc{};
        int number = 0;
        if (const std::int32_t failed =
                OperatorSelection(op, electrode, stream, &id, &addr, &desc, &number)) {
            return failed;
        }
        return Selected(desc, addr, electrode);
    });
}

KL_API int32_t kl_signal_save_set(int op, int electrode, const char* stream, int on) noexcept {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs("kl_signal_save_set", electrode, stream)) {
            return failed;
        }
        std::uint32_t id = kNoEndpoint;
        StreamAddr addr;
        BmFeSignalSelectionDesc desc{};
        int number = 0;
        if (const std::int32_t failed =
                OperatorSelection(op, electrode, stream, &id, &addr, &desc, &number)) {
            return failed;
        }
        bool changed = false;
        if (const std::int32_t failed = Select(desc, addr, electrode, on != 0, &changed)) {
            return failed;
        }
        if (changed && !gKestClient->SendSignalSelectionDescriptor(id, number, &desc)) {
            return KL_ERR_OPERATOR_NOT_FOUND;
        }
        return KL_SUCCESS;
    });
}

} // extern "C"
