// Opening and closing the connection, the processor time, versions and the processor
// software restart.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "links/LinkCache.h"
#include "links/OperNetwork.h"

#include <chrono>
#include <cstdio>
#include <thread>

using kestlib::CopyText;
using kestlib::Guard;
using kestlib::Initialized;
namespace links = Network::OperNetwork;

namespace {

constexpr const char* kLibVersion = "0.9.2";
constexpr int kLibBuild = 106;
// Build mark of the version text: 'k' for every build of this library.
constexpr char kLibBuildMark = 'k';
constexpr unsigned kKestMajor = 0;
constexpr unsigned kKestMinor = 9;
// How long a restart request may wait for its echo, and the pause before closing.
constexpr unsigned kRestartConfirmMs = 1000;
constexpr auto kRestartPause = std::chrono::milliseconds(250);

bool CacheReady() {
    return gKestCache != nullptr && gKestCache->IsInit();
}

template <typename Start> std::int32_t Open(Start start) {
    if (gKestClient == nullptr && start()) {
        links::InitKestCache();
        if (CacheReady()) {
            return KL_SUCCESS;
        }
    }
    kl_close();
    return KL_ERR_UNKNOWN;
}

bool BufferUsable(const char* buffer, int size) {
    return buffer != nullptr && size > 0;
}

} // namespace

extern "C" {

KL_API int32_t kl_open(void) noexcept {
    std::fprintf(stderr, "NOT IMPLEMENTED YET\n");
    return KL_ERR_UNKNOWN;
}

KL_API int32_t kl_open_udp_addr(const char* address) noexcept {
    return Guard([&] { return Open([&] { return links::StartUDPOper(address); }); });
}

KL_API int32_t kl_open_tcp_addr(const char* address) noexcept {
    return Guard([&] { return Open([&] { return links::StartTCPOper(address); }); });
}

KL_API int32_t kl_open_udp(void) noexcept {
    return kl_open_udp_addr(nullptr);
}

KL_API int32_t kl_open_tcp(void) noexcept {
    return kl_open_tcp_addr(nullptr);
}

KL_API int32_t kl_close(void) noexcept {
    const std::int32_t result = CacheReady() ? KL_SUCCESS : KL_ERR_UNKNOWN;
    Guard([] {
        links::NetworkShutdown();
        return KL_SUCCESS;
    });
    return result;
}

KL_API uint32_t kl_time(void) noexcept {
    return CacheReady() ? gKestCache->GetPAXTime() : 0;
}

KL_API int32_t kl_lib_version(char* buffer, int size) noexcept {
    if (!BufferUsable(buffer, size)) {
        return KL_ERR_INVALID_PARAMETER;
    }
    std::snprintf(buffer, std::size_t(size), "%s+%d%c", kLibVersion, kLibBuild, kLibBuildMark);
    return KL_SUCCESS;
}

KL_API int32_t kl_kest_version(char* buffer, int size) noexcept {
    if (!BufferUsable(buffer, size)) {
        return KL_ERR_INVALID_PARAMETER;
    }
    std::snprintf(buffer, std::size_t(size), "%u.%u", kKestMajor, kKestMinor);
    return KL_SUCCESS;
}

KL_API int32_t kl_paxexec_version(char* buffer, int size) noexcept {
    if (!Initialized("kl_paxexec_version")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (!BufferUsable(buffer, size)) {
        return KL_ERR_INVALID_PARAMETER;
    }
    const KestModuleDesc* desc = gKestCache->GetPAXModuleDesc();
    if (desc == nullptr) {
        std::fprintf(stderr, "failed to find module descriptor\n");
        return KL_ERR_UNKNOWN;
    }
    auto hold = gKestCache->GetLock();
    CopyText(buffer, size, desc->swVersion, sizeof desc->swVersion);
    return KL_SUCCESS;
}

KL_API int32_t kl_pax_serial(char* buffer, int size) noexcept {
    if (!Initialized("kl_pax_serial")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (!BufferUsable(buffer, size)) {
        return KL_ERR_INVALID_PARAMETER;
    }
    const KestProcessorDesc* desc = gKestCache->GetProcDesc();
    if (desc == nullptr) {
        std::printf("failed to find proccessor descriptor.\n");
        std::fflush(stdout);
        return KL_ERR_UNKNOWN;
    }
    auto hold = gKestCache->GetLock();
    CopyText(buffer, size, desc->serial, sizeof desc->serial);
    return KL_SUCCESS;
}

KL_API int32_t kl_fe_version(char* buffer, int size, int electrode) noexcept {
    if (!Initialized("kl_fe_version")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (!BufferUsable(buffer, size)) {
        return KL_ERR_INVALID_PARAMETER;
    }
    int module = -1;
    const KestModuleDesc* desc =
        electrode < 0 ? nullptr : gKestCache->GetModuleDesc(electrode, &module);
    if (desc == nullptr) {
        std::fprintf(stderr, "unable to locate module descriptor for elec %d\n", electrode);
        return KL_ERR_UNKNOWN;
    }
    auto hold = gKestCache->GetLock();
    CopyText(buffer, size, desc->hwVersion, sizeof desc->hwVersion);
    return KL_SUCCESS;
}

KL_API int32_t kl_processor_restart_software(void) noexcept {
    if (!Initialized("kl_processor_restart_software")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    return Guard([] {
        auto* cache = dynamic_cast<links::LinkCache*>(gKestCache);
        const int prop =
            cache == nullptr ? -1 : cache->ProcessorPropId(ModuleData::Prop::RestartPaxexecTrigger);
        if (prop < 0) {
            return KL_ERR_UNKNOWN;
        }
        // The processor restarts whether or not its echo arrives in time.
        KestSendAndRecv(gKestClient, gKestCache, kRestartConfirmMs)
            .SendBool(0, unsigned(prop), true);
        std::this_thread::sleep_for(kRestartPause);
        kl_close();
        return KL_SUCCESS;
    });
}

} // extern "C"
