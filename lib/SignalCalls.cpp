// Stream switches: whether a stream of an electrode is sent, and switching it on or off.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"
#include "lib/SignalSupport.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"

#include <cstdio>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

// Checks shared by the calls; 0 when the call may go on.
std::int32_t CheckArgs(const char* call, int electrode, const char* stream) {
    if (!Initialized(call)) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (electrode < 0) {
        return KL_ERR_INVALID_ELECTRODE;
    }
    return stream == nullptr ? KL_ERR_INVALID_PARAMETER : KL_SUCCESS;
}

std::int32_t Signal(const char* call, int electrode, const char* stream) {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs(call, electrode, stream)) {
            return failed;
        }
        KestStreamSwitch found;
        if (!kestlib::StreamSwitch(electrode, stream, &found)) {
            std::fprintf(stderr, "stream %s not found for electrode %d\n", stream, electrode);
            return KL_ERR_UNSUPPORTED;
        }
        return found.value < 0 ? KL_ERR_UNKNOWN : std::int32_t(found.value != 0);
    });
}

std::int32_t SignalSet(const char* call, int electrode, const char* stream, int on) {
    return Guard([&]() -> std::int32_t {
        if (const std::int32_t failed = CheckArgs(call, electrode, stream)) {
            return failed;
        }
        KestStreamSwitch found;
        if (!kestlib::StreamSwitch(electrode, stream, &found) ||
            (found.flags & kKestStreamUnavailableFlags) != 0) {
            std::fprintf(stderr, "stream %s not found for electrode %d\n", stream, electrode);
            return KL_ERR_UNSUPPORTED;
        }
        if (found.value < 0 || found.count < 1) {
            std::fprintf(stderr, "cannot find stream %s for electrode %d\n", stream, electrode);
            return KL_ERR_UNKNOWN;
        }
        // Every switch goes to the module that holds the stream and its switches.
        for (int k = 0; k < found.count; ++k) {
            if (gKestClient == nullptr ||
                gKestClient->SendBool(unsigned(found.module), unsigned(found.index + k), on != 0) ==
                    0) {
                return KL_ERR_UNKNOWN;
            }
        }
        return KL_SUCCESS;
    });
}

} // namespace

extern "C" {

KL_API int32_t kl_signal(int electrode, const char* stream) noexcept {
    return Signal("kl_signal", electrode, stream);
}

KL_API int32_t kl_signal_set(int electrode, const char* stream, int on) noexcept {
    return SignalSet("kl_signal_set", electrode, stream, on);
}

KL_API int32_t kl_signal_raw(int electrode) noexcept {
    return Signal("kl_signal_raw", electrode, "raw");
}

KL_API int32_t kl_signal_spk(int electrode) noexcept {
    return Signal("kl_signal_spk", electrode, "spk");
}

KL_API int32_t kl_signal_spkPreview(int electrode) noexcept {
    return Signal("kl_signal_spkPreview", electrode, "spkfilt");
}

KL_API int32_t kl_signal_lfp(int electrode) noexcept {
    return Signal("kl_signal_lfp", electrode, "lfp");
}

KL_API int32_t kl_signal_stim(int electrode) noexcept {
    return Signal("kl_signal_stim", electrode, "stim");
}

KL_API int32_t kl_signal_set_raw(int electrode, int on) noexcept {
    return SignalSet("kl_signal_set_raw", electrode, "raw", on);
}

KL_API int32_t kl_signal_set_spk(int electrode, int on) noexcept {
    return SignalSet("kl_signal_set_spk", electrode, "spk", on);
}

KL_API int32_t kl_signal_set_spkPreview(int electrode, int on) noexcept {
    return SignalSet("kl_signal_set_spkPreview", electrode, "spkfilt", on);
}

KL_API int32_t kl_signal_set_lfp(int electrode, int on) noexcept {
    return SignalSet("kl_signal_set_lfp", electrode, "lfp", on);
}

KL_API int32_t kl_signal_set_stim(int electrode, int on) noexcept {
    return SignalSet("kl_signal_set_stim", electrode, "stim", on);
}

} // extern "C"
