// Output source calls: which stream drives each digital output (module 34) and each analog
// output (module 33), and the change of that source.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

constexpr std::size_t kSourceTextSize = 1024;

struct OutputModule {
    unsigned id;
    const char* queryCall;
    const char* setCall;
    const char* failure; // "failed to quarry ... source for channel %d\n"
    bool segments;       // the source must be a segment stream (digital) or must not (analog)
};

constexpr OutputModule kDigital = {kKestDigitalModule, "kl_digout_source", "kl_digout_source",
                                   "failed to quarry digital source for channel %d\n", true};
constexpr OutputModule kAnalog = {kKestAnalogModule, "kl_anaout_source", "kl_anaout_source_set",
                                  "failed to quarry analog source for channel %d\n", false};

void Failure(const OutputModule& output, const char* call, int channel) {
    std::fprintf(stderr, "%s: ", call);
    std::fprintf(stderr, output.failure, channel);
}

std::int32_t QuerySource(const OutputModule& output, int channel, char* text) {
    if (!Initialized(output.queryCall)) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (text == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    text[0] = '\0';
    std::string source;
    const int found = gKestCache->GetOutputSourceText(output.id, channel, &source);
    if (found == -2) {
        std::fprintf(stderr, "%s: the source of channel %d has no segment stream\n",
                     output.queryCall, channel);
        return KL_ERR_UNSUPPORTED;
    }
    if (found != 0) {
        Failure(output, output.queryCall, channel);
        return KL_ERR_UNSUPPORTED;
    }
    std::snprintf(text, kSourceTextSize, "%s", source.c_str());
    return KL_SUCCESS;
}

std::int32_t SetSource(const OutputModule& output, uint32_t channel, int electrode,
                       const char* stream) {
    const char* call = output.setCall;
    if (!Initialized(call)) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (stream == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    const auto [first, end] = gKestCache->GetInputConnectionBlock(output.id);
    if (first < 0 || channel >= std::uint32_t(end - first)) {
        Failure(output, call, int(channel));
        return KL_ERR_UNSUPPORTED;
    }
    int module = -1;
    int streamId = -1;
    const KestOutputStreamDesc* desc =
        electrode < 0 ? nullptr
                      : gKestCache->GetOutputStreamDesc(electrode, stream, &module, &streamId);
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::uint8_t kind = 0;
    if (desc != nullptr) {
        auto hold = gKestCache->GetLock();
        type = desc->head.type;
        flags = desc->head.flags;
        kind = desc->dataKind;
    }
    if (type != kKestOutputStreamDescType || (flags & kKestStreamUnavailableFlags) != 0) {
        std::fprintf(stderr, "%s: stream %s not found for electrode %d\n", call, stream, electrode);
        return KL_ERR_UNSUPPORTED;
    }
    if (output.segments && kind != kKestSegmentData) {
        std::fprintf(stderr, "%s: stream %s is not SPIKE data type\n", call, stream);
        return KL_ERR_UNSUPPORTED;
    }
    if (!output.segments && kind == kKestSegmentData) {
        std::fprintf(stderr, "%s: stream %s is SPIKE data type\n", call, stream);
        return KL_ERR_UNSUPPORTED;
    }
    if (gKestCache->GetSignalEnableProp(electrode, stream, nullptr, nullptr, nullptr) <= 0) {
        std::fprintf(stderr, "%s: stream %s is not enabled\n", call, stream);
        return KL_ERR_UNSUPPORTED;
    }
    const unsigned within = unsigned(electrode) % 32;
    const unsigned sourceStream =
        output.segments ? unsigned(streamId) + within : unsigned(streamId);
    if (module < 0 || module > 255 || sourceStream > 255) {
        Failure(output, call, int(channel));
        return KL_ERR_UNSUPPORTED;
    }
    // The record is changed at its stored size, never beyond it.
    std::array<std::uint8_t, kKestMaxRecordSize> record{};
    const unsigned index = unsigned(first) + channel;
    const std::size_t length =
        gKestCache->CopyKestProperty(output.id, index, record.data(), record.size(), 0, 12);
    if (length == 0) {
        Failure(output, call, int(channel));
        return KL_ERR_UNSUPPORTED;
    }
    record[6] = std::uint8_t(module);
    record[7] = std::uint8_t(sourceStream);
    kest::StoreLe<std::uint16_t>(&record[10], std::uint16_t(output.segments ? 0 : within));
    if (gKestClient == nullptr ||
        gKestClient->SendKestProperty(record.data(), output.id, index, length) == 0) {
        return KL_ERR_UNKNOWN;
    }
    return KL_SUCCESS;
}

} // namespace

extern "C" {

KL_API int32_t kl_digout_source(int channel, char text[1024]) noexcept {
    return Guard([&] { return QuerySource(kDigital, channel, text); });
}

KL_API int32_t kl_digout_source_set(uint32_t channel, int electrode, const char* stream) noexcept {
    return Guard([&] { return SetSource(kDigital, channel, electrode, stream); });
}

KL_API int32_t kl_anaout_source(int channel, char text[1024]) noexcept {
    return Guard([&] { return QuerySource(kAnalog, channel, text); });
}

KL_API int32_t kl_anaout_source_set(uint32_t channel, int electrode, const char* stream) noexcept {
    return Guard([&] { return SetSource(kAnalog, channel, electrode, stream); });
}

} // extern "C"
