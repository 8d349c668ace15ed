// Continuous data retrieval: windows of an electrode's stream, newest or from a time,
// sample-aligned across the electrodes of one front end.
#include "cache/KestCache.h"

#include "cache/ContDataBuffer.h"
#include "cache/HeldWindow.h"
#include "cache/KestCachePieces.h"
#include "cache/ModuleData.h"

#include <algorithm>
#include <vector>

namespace {

// Values of one electrode's window copied under one hold of the lock.
constexpr std::uint32_t kWindowSlab = 16384;

bool IsAnalogModule(ModuleData* store) {
    const KestModuleDesc* desc = store->GetModuleDesc();
    return desc != nullptr && desc->moduleClass == 4;
}

// Calls `read` with the ring of a module's stream, short or float as the stream stores them;
// 0 for a stream with neither.
template <typename Read> int WithRing(ModuleData* store, unsigned stream, Read&& read) {
    const KestOutputStreamDesc* desc =
        reinterpret_cast<const KestOutputStreamDesc*>(store->GetOutputStreamDesc(int(stream)));
    if (desc == nullptr) {
        return 0;
    }
    switch (desc->dataKind) {
    case kKestContinuousData:
    case kKestContinuousData16:
        return read(
            static_cast<const ContDataBuffer<short>*>(store->GetContDataBuffer(int(stream))));
    case kKestFloatData:
        return read(
            static_cast<const ContDataBuffer<float>*>(store->GetFloatDataBuffer(int(stream))));
    default:
        return 0;
    }
}

template <typename Ring>
int ReadRing(const Ring* ring, std::uint32_t* outTime, float* dest, std::uint32_t count,
             unsigned electrode, std::uint32_t time, bool scale) {
    const std::uint32_t channel = electrode % 32;
    if (ring == nullptr || channel >= ring->GetChannels()) {
        return 0;
    }
    if (time == 0) {
        return int(ring->GetDataFromTop(outTime, dest, channel, count, scale));
    }
    std::uint32_t read = ring->GetDataByTimeStamp(dest, time, channel, count, scale);
    if (read > 0 && outTime != nullptr) {
        *outTime = time;
    }
    return int(read);
}

} // namespace

int KestCache::GetContDataUnlocked(std::uint32_t* outTime, float* dest, std::uint32_t count,
                                   unsigned electrode, ModuleData* store, unsigned stream,
                                   std::uint32_t time, bool scale) {
    return WithRing(store, stream, [&](const auto* ring) {
        return ReadRing(ring, outTime, dest, count, electrode, time, scale);
    });
}

int KestCache::PlanWindow(ModuleData* store, unsigned stream, std::uint32_t time,
                          std::uint32_t count, std::uint32_t* outTime, HeldWindow& window) {
    return WithRing(store, stream, [&](const auto* ring) {
        window.Attach(ring);
        return window.Plan(ring, time, count, outTime);
    });
}

int KestCache::GetContData(std::uint32_t* outTime, float* dest, std::uint32_t count,
                           unsigned electrode, unsigned module, unsigned stream, std::uint32_t time,
                           bool scale) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store == nullptr || dest == nullptr) {
        return 0;
    }
    return GetContDataUnlocked(outTime, dest, count, electrode, store, stream, time, scale);
}

int KestCache::GetContDataMulti(Kind kind, std::uint32_t* outTime, float* dest, std::uint32_t count,
                                const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                                std::uint32_t time) {
    if (electrodes == nullptr || dest == nullptr) {
        return electrodeCount == 0 ? 0 : -1;
    }
    // What every electrode reads is settled under one hold, as the rings are at that moment;
    // the windows are then copied a slab of one electrode at a time, each under its own short
    // hold, so that the link stores packets in between (the rings keep the rows in place
    // meanwhile).
    // A read the writer overtakes starts again; the last try holds the lock through.
    const std::uint32_t given = outTime != nullptr ? *outTime : 0;
    std::vector<HeldWindow> windows;
    windows.reserve(electrodeCount);
    std::unique_lock<std::mutex> hold(lock_, std::defer_lock);
    const PieceReader reading(*this);
    for (int attempt = 1;; ++attempt) {
        const bool pieces = attempt < kHeldReadTries;
        hold.lock();
        windows.clear();
        std::uint32_t reported = given;
        const int result = PlanContWindows(kind, &reported, dest, count, electrodes, electrodeCount,
                                           time, outTime != nullptr, windows);
        if (pieces) {
            hold.unlock();
        }
        // The oldest values of every window first: the writer overwrites only rows older than
        // those being copied, so a read is overtaken only when it runs slower than the
        // stream for longer than the slack.
        std::uint32_t longest = 0;
        for (const HeldWindow& window : windows) {
            longest = std::max(longest, window.rows);
        }
        bool whole = true;
        for (std::uint32_t from = 0; from < longest && whole; from += kWindowSlab) {
            for (std::size_t w = 0; w < windows.size() && whole; ++w) {
                const HeldWindow& window = windows[w];
                if (window.rows <= from) {
                    continue;
                }
                if (pieces) {
                    TakeForPiece(hold);
                }
                whole = window.Copy(from, std::min(kWindowSlab, window.rows - from));
                if (pieces) {
                    hold.unlock();
                }
            }
        }
        if (whole) {
            for (const HeldWindow& window : windows) {
                window.ApplyFactor();
            }
        }
        if (!pieces) {
            hold.unlock();
        }
        if (whole) {
            if (outTime != nullptr) {
                *outTime = reported;
            }
            return result;
        }
    }
}

int KestCache::PlanContWindows(Kind kind, std::uint32_t* outTime, float* dest, std::uint32_t count,
                               const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                               std::uint32_t time, bool startFromOut,
                               std::vector<HeldWindow>& windows) {
    int result = 0;
    std::uint32_t start = time;
    long previous = -1;
    for (std::uint32_t k = 0; k < electrodeCount; ++k) {
        const unsigned electrode = electrodes[k];
        int hw = -1;
        if (!(kind == Kind::LFP && electrode >= 10240)) {
            hw = GetHWModule(electrode);
            if (hw < 0) {
                return -1;
            }
        }
        unsigned module = unsigned(hw);
        const char* name = nullptr;
        switch (kind) {
        case Kind::Raw: {
            ModuleData* own = FindModule(module);
            if (own == nullptr) {
                return -1;
            }
            if (IsAnalogModule(own)) {
                name = "30ksps";
            } else {
                name = "raw";
                if (own->GetStreamId(name) < 0) {
                    module += 1;
                }
            }
            break;
        }
        case Kind::LFP:
            module = electrode >= 10240 ? kKestAnalogModule : module + 1;
            break;
        case Kind::EMG:
            module += 1;
            name = "emg";
            break;
        case Kind::SpkPreview:
            module += 1;
            name = "spkfilt";
            break;
        case Kind::HiRes:
            module += 1;
            name = "hi-res";
            break;
        case Kind::HiFreq:
            module += 1;
            name = "hifreq";
            break;
        case Kind::Status:
            name = "HW Status";
            break;
        }
        // The module named for the stream must be there; nothing is read otherwise.
        ModuleData* store = FindModule(module);
        if (store == nullptr) {
            return -1;
        }
        if (kind == Kind::LFP) {
            name = IsAnalogModule(store) ? "1ksps" : "lfp";
        }
        const long compared = kind == Kind::LFP ? long(module) : long(hw);
        if (compared != previous) {
            start = time;
        }
        previous = compared;

        const int stream = store->GetStreamId(name);
        if (stream < 0) {
            return stream;
        }
        HeldWindow window;
        window.dest = dest + std::size_t(k) * count;
        window.channel = electrode % 32;
        window.scale = kind != Kind::Status;
        result = PlanWindow(store, unsigned(stream), start, count, outTime, window);
        if (window.rows != 0) {
            windows.push_back(window);
        }
        if (kind == Kind::Status && result > 0) {
            // Status samples carry a factor per physical channel; without one the
            // values would be meaningless, so the read fails.
            const auto* channel = reinterpret_cast<const KestPhysicalChannelDesc*>(
                store->GetPhysChanDesc(stream, int(electrode % 32)));
            if (channel == nullptr) {
                return -1;
            }
            windows.back().factor = channel->hwStatusScale;
            windows.back().scaled = true;
        }
        if (start == 0 && startFromOut) {
            start = *outTime;
        }
    }
    return result;
}

#define KEST_CONT_CALL(Name, KindValue)                                                            \
    int KestCache::Name(std::uint32_t* outTime, float* dest, std::uint32_t count,                  \
                        const std::uint32_t* electrodes, std::uint32_t electrodeCount,             \
                        std::uint32_t time) {                                                      \
        return GetContDataMulti(Kind::KindValue, outTime, dest, count, electrodes, electrodeCount, \
                                time);                                                             \
    }

KEST_CONT_CALL(GetContDataRaw, Raw)
KEST_CONT_CALL(GetContDataLFP, LFP)
KEST_CONT_CALL(GetContDataEMG, EMG)
KEST_CONT_CALL(GetContDataSpkPreview, SpkPreview)
KEST_CONT_CALL(GetContDataFloat, HiRes)
KEST_CONT_CALL(GetContDataHiFreqFloat, HiFreq)
KEST_CONT_CALL(GetContDataStatus, Status)
#undef KEST_CONT_CALL

int KestCache::GetContDataByModule(std::uint32_t* outTime, float* dest, std::uint32_t count,
                                   unsigned module, const std::string& streamName,
                                   std::uint32_t time, bool scale) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store == nullptr || dest == nullptr) {
        return 0;
    }
    const int stream = store->GetStreamId(streamName);
    if (stream < 0) {
        return stream;
    }
    const auto* desc =
        reinterpret_cast<const KestOutputStreamDesc*>(store->GetOutputStreamDesc(stream));
    if (desc == nullptr) {
        return 0;
    }
    std::uint32_t channels = 0;
    auto read = [&](const auto* ring) -> int {
        if (ring == nullptr) {
            return 0;
        }
        if (time == 0) {
            return int(ring->GetAllData(outTime, dest, &channels, count, scale));
        }
        std::uint32_t rows = ring->GetAllDataByTimeStamp(dest, &channels, time, count, scale);
        if (rows > 0 && outTime != nullptr) {
            *outTime = time;
        }
        return int(rows);
    };
    switch (desc->dataKind) {
    case kKestContinuousData:
    case kKestContinuousData16:
        return read(store->GetContDataBuffer(stream));
    case kKestFloatData:
        return read(store->GetFloatDataBuffer(stream));
    default:
        return 0;
    }
}
